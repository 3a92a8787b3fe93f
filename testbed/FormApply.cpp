#include "FormApply.h"

#include <climits>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>

#include "NasMib.h"

namespace testbed {
namespace {

bool Fail(std::string* error, const std::string& why)
{
    if (error)
        *error = why;
    return false;
}

// One table a page writes: its entry, the column types ('i' or 's'; 0 for a
// column that does not exist), the row-status column, the index column and
// the column whose text must be unique (0: none).
struct TableShape {
    const char* entry;
    std::string types; // types[c - 1] is column c's
    uint32_t statusColumn;
    uint32_t indexColumn;
    uint32_t nameColumn;
};

const TableShape* ShapeOf(const std::string& page)
{
    static const std::map<std::string, TableShape> shapes = {
        {"/configuration/ShareManagement/PrivateFolder.shtml", {nasmib::kFolderEntry, "ississsisssiiiiii", 17, 1, 5}},
        {"/configuration/ShareManagement/UserManagement.shtml", {nasmib::kUserEntry, "issssiiiii", 10, 1, 2}},
        {"/configuration/ShareManagement/UserGroup.shtml", {nasmib::kGroupEntry, "issiiiii", 8, 1, 2}},
        {"/configuration/ShareManagement/QuotaManagement.shtml", {nasmib::kQuotaEntry, "isiiiii", 7, 1, 0}},
    };
    auto it = shapes.find(page);
    return it == shapes.end() ? nullptr : &it->second;
}

// A decimal that fits a 32-bit INTEGER.
bool IsInteger32(const std::string& text)
{
    if (text.empty() || text.size() > 11)
        return false;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    return *end == '\0' && text[0] != ' ' && text[0] != '+' && v >= INT_MIN && v <= INT_MAX;
}

MibValue ValueOf(const FormCell& cell)
{
    return cell.type == 'i' ? MibValue::Integer(static_cast<int32_t>(std::strtol(cell.value.c_str(), nullptr, 10)))
                            : MibValue::String(cell.value);
}

bool ApplyStep2(MibStore& store, const std::vector<FormCell>& cells, std::string* error)
{
    struct Scalar {
        const char* oid;
        long low, high;
    };
    static const Scalar scalars[] = {
        {nasmib::kFormatFs, 1, 3}, // FAT32, ext2, ext3
        {nasmib::kDiskMode, 0, 4},
        {nasmib::kInitDisk, 0, 1},
    };
    std::vector<std::pair<std::string, MibValue>> writes;
    for (const FormCell& cell : cells) {
        if (cell.type == 'i' && !IsInteger32(cell.value))
            return Fail(error, "not an integer: " + cell.field);
        const Scalar* s = nullptr;
        for (const Scalar& candidate : scalars)
            if (cell.oid == candidate.oid)
                s = &candidate;
        if (!s)
            return Fail(error, "not a disk set-up object: " + cell.oid);
        if (cell.type != 'i')
            return Fail(error, "not an integer: " + cell.field);
        long v = std::strtol(cell.value.c_str(), nullptr, 10);
        if (v < s->low || v > s->high)
            return Fail(error, "out of range: " + cell.field);
        writes.emplace_back(cell.oid, ValueOf(cell));
    }
    for (const auto& [oid, value] : writes)
        store.Set(oid, value);
    return true;
}

} // namespace

bool ApplyFormCells(MibStore& store, const std::string& page, const std::vector<FormCell>& cells, std::string* error)
{
    if (page == kStep2Page)
        return ApplyStep2(store, cells, error);
    const TableShape* shape = ShapeOf(page);
    if (!shape)
        return Fail(error, "no such form: " + page);
    const Oid entry = ToOid(shape->entry);

    std::vector<std::pair<Oid, MibValue>> writes;
    std::set<Oid> opened;             // rows opened by this form
    std::map<Oid, std::string> names; // new names by row
    for (const FormCell& cell : cells) {
        if ((cell.type != 'i' && cell.type != 's') || (cell.type == 'i' && !IsInteger32(cell.value)))
            return Fail(error, cell.field + ": not a value of its type");
        Oid oid;
        try {
            oid = ToOid(cell.oid);
        } catch (const std::invalid_argument&) {
            return Fail(error, "bad OID in " + cell.field);
        }
        if (!OidStartsWith(oid, entry) || oid.size() < entry.size() + 2)
            return Fail(error, cell.field + ": " + cell.oid + " is not a cell of this form's table");
        uint32_t column = oid[entry.size()];
        Oid row(oid.begin() + static_cast<long>(entry.size()) + 1, oid.end());
        if (column < 1 || column > shape->types.size())
            return Fail(error, cell.field + ": the table has no column " + std::to_string(column));
        if (cell.type != shape->types[column - 1])
            return Fail(error, cell.field + ": wrong type for column " + std::to_string(column));
        Oid statusCell = entry;
        statusCell.push_back(shape->statusColumn);
        statusCell.insert(statusCell.end(), row.begin(), row.end());
        bool exists = store.Get(statusCell).has_value();
        long number = cell.type == 'i' ? std::strtol(cell.value.c_str(), nullptr, 10) : 0;

        if (cell.role == 'b') {
            if (column != shape->statusColumn || number != nasmib::kRowStatusOpen)
                return Fail(error, cell.field + ": a row start is the row status 5");
            if (exists || opened.count(row))
                return Fail(error, cell.field + ": the row exists already");
            opened.insert(row);
            // The new row's columns start empty.
            for (uint32_t c = 1; c <= shape->types.size(); ++c) {
                if (shape->types[c - 1] == 0)
                    continue;
                Oid cellOid = entry;
                cellOid.push_back(c);
                cellOid.insert(cellOid.end(), row.begin(), row.end());
                writes.emplace_back(cellOid, shape->types[c - 1] == 'i' ? MibValue::Integer(0) : MibValue::String(""));
            }
        } else if (!exists && !opened.count(row)) {
            return Fail(error, cell.field + ": no such row");
        }
        if (cell.role == 'e' && (column != shape->statusColumn || number != nasmib::kRowStatusActive))
            return Fail(error, cell.field + ": a row end is the row status 1");
        if (column == shape->indexColumn && (row.size() != 1 || std::to_string(row[0]) != cell.value))
            return Fail(error, cell.field + ": the index is not the row's");
        if (column == shape->nameColumn) {
            if (cell.value.empty())
                return Fail(error, cell.field + ": empty name");
            names[row] = cell.value;
        }
        writes.emplace_back(oid, ValueOf(cell));
    }

    // Names stay unique in their column.
    if (shape->nameColumn) {
        Oid nameColumn = entry;
        nameColumn.push_back(shape->nameColumn);
        for (const auto& [row, name] : names) {
            for (const auto& [other, value] : store.Subtree(nameColumn)) {
                Oid otherRow(other.begin() + static_cast<long>(nameColumn.size()), other.end());
                if (otherRow != row && value.bytes == name)
                    return Fail(error, "a new name is taken already");
            }
            for (const auto& [otherRow, otherName] : names)
                if (otherRow != row && otherName == name)
                    return Fail(error, "a new name is given twice");
        }
    }

    for (const auto& [oid, value] : writes)
        store.Set(oid, value);
    return true;
}

} // namespace testbed
