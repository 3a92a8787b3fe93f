#include "FormApply.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>

#include "NasMib.h"
#include "stdafx.h"

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

// ---------------------------------------------------------------------------
// Memberships: the device keeps one relation of users and groups, shown as a
// user's group list (each entry followed by ",") and a group's member list
// (names joined by ","). A form that writes one side changes the other too.

std::vector<std::string> NamesOf(const std::string& list)
{
    std::vector<std::string> names;
    for (std::string name : ListEntries(list)) {
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(' ') + 1);
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

std::string Joined(const std::vector<std::string>& names, bool trailing)
{
    std::string text;
    for (const std::string& n : names)
        text += (text.empty() || text.back() == ',' ? "" : ",") + n + (trailing ? "," : "");
    return text;
}

Oid Cell(const char* column, const Oid& row)
{
    Oid oid = ToOid(column);
    oid.insert(oid.end(), row.begin(), row.end());
    return oid;
}

std::string TextAt(const MibStore& store, const Oid& oid)
{
    auto v = store.Get(oid);
    return v ? v->bytes : std::string();
}

// Each row of a name column: (row, name).
std::vector<std::pair<Oid, std::string>> NamedRows(const MibStore& store, const char* column)
{
    const size_t prefix = ToOid(column).size();
    std::vector<std::pair<Oid, std::string>> rows;
    for (const auto& [oid, value] : store.Subtree(ToOid(column)))
        rows.emplace_back(Oid(oid.begin() + static_cast<long>(prefix), oid.end()), value.bytes);
    return rows;
}

// Puts name into (or takes it out of) the list at oid; untouched when it is
// as asked already.
void SetMembership(MibStore& store, const Oid& oid, const std::string& name, bool member, bool trailing)
{
    std::vector<std::string> names = NamesOf(TextAt(store, oid));
    auto at = std::find(names.begin(), names.end(), name);
    if ((at != names.end()) == member)
        return;
    if (member)
        names.push_back(name);
    else
        names.erase(at);
    store.Set(oid, MibValue::String(Joined(names, trailing)));
}

// A user's group list was written: the groups' member lists follow it.
void MembershipFromUser(MibStore& store, const Oid& userRow)
{
    const std::string user = TextAt(store, Cell(nasmib::kUserName, userRow));
    const std::vector<std::string> groups = NamesOf(TextAt(store, Cell(nasmib::kUserGroupMember, userRow)));
    for (const auto& [row, group] : NamedRows(store, nasmib::kGroupName)) {
        const Oid list = Cell(nasmib::kGroupUserList, row);
        const bool trailing = !TextAt(store, list).empty() && TextAt(store, list).back() == ',';
        SetMembership(store, list, user, std::find(groups.begin(), groups.end(), group) != groups.end(), trailing);
    }
}

// A group's member list was written: it keeps the names that are users, and
// the users' group lists follow it.
void MembershipFromGroup(MibStore& store, const Oid& groupRow)
{
    const std::string group = TextAt(store, Cell(nasmib::kGroupName, groupRow));
    const Oid listOid = Cell(nasmib::kGroupUserList, groupRow);
    const std::string posted = TextAt(store, listOid);
    const auto users = NamedRows(store, nasmib::kUserName);
    std::vector<std::string> kept;
    for (const std::string& name : NamesOf(posted))
        if (std::any_of(users.begin(), users.end(), [&](const auto& u) { return u.second == name; }))
            kept.push_back(name);
    const std::string list = Joined(kept, !posted.empty() && posted.back() == ',');
    if (list != posted)
        store.Set(listOid, MibValue::String(list));
    for (const auto& [row, user] : users)
        SetMembership(store, Cell(nasmib::kUserGroupMember, row), group,
                      std::find(kept.begin(), kept.end(), user) != kept.end(), true);
}

} // namespace

void DropMemberships(MibStore& store, const Oid& entry, const Oid& row)
{
    const bool user = entry == ToOid(nasmib::kUserEntry);
    if (!user && entry != ToOid(nasmib::kGroupEntry))
        return;
    const std::string name = TextAt(store, Cell(user ? nasmib::kUserName : nasmib::kGroupName, row));
    if (name.empty())
        return;
    for (const auto& [other, otherName] : NamedRows(store, user ? nasmib::kGroupName : nasmib::kUserName)) {
        const Oid list = Cell(user ? nasmib::kGroupUserList : nasmib::kUserGroupMember, other);
        const std::string text = TextAt(store, list);
        SetMembership(store, list, name, false, !user || (!text.empty() && text.back() == ','));
    }
}

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

    const bool users = std::string(shape->entry) == nasmib::kUserEntry;
    const bool groups = std::string(shape->entry) == nasmib::kGroupEntry;
    const uint32_t listColumn = ToOid(users ? nasmib::kUserGroupMember : nasmib::kGroupUserList).back();
    std::set<Oid> listRows;
    for (const auto& [oid, value] : writes)
        if ((users || groups) && oid[entry.size()] == listColumn)
            listRows.insert(Oid(oid.begin() + static_cast<long>(entry.size()) + 1, oid.end()));
    for (const Oid& row : listRows) {
        if (users)
            MembershipFromUser(store, row);
        else
            MembershipFromGroup(store, row);
    }
    return true;
}

} // namespace testbed
