#include "FormParser.h"

#include <cstdlib>
#include <climits>

namespace testbed {
namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool Fail(std::string* error, const std::string& why)
{
    if (error)
        *error = why;
    return false;
}

bool IsDottedOid(const std::string& oid)
{
    if (oid.empty() || oid.front() == '.' || oid.back() == '.')
        return false;
    bool sawDot = false;
    for (size_t i = 0; i < oid.size(); ++i) {
        char c = oid[i];
        if (c == '.') {
            if (oid[i - 1] == '.')
                return false;
            sawDot = true;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return sawDot && oid.size() <= 256;
}

bool IsInteger32(const std::string& text)
{
    if (text.empty() || text.size() > 11)
        return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size())
        return false;
    for (size_t j = i; j < text.size(); ++j)
        if (text[j] < '0' || text[j] > '9')
            return false;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    return v >= INT_MIN && v <= INT_MAX;
}

} // namespace

bool DecodeFormText(const std::string& text, std::string& out)
{
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size())
                return false;
            int hi = HexValue(text[i + 1]);
            int lo = HexValue(text[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

bool ParseFormCells(const std::string& body, bool prefixed, std::vector<FormCell>& cells, std::string* error)
{
    static const std::string kPrefix = "setobject_";
    cells.clear();
    std::vector<FormCell> parsed;
    if (body.empty())
        return Fail(error, "empty form");
    size_t start = 0;
    for (;;) {
        size_t end = body.find('&', start);
        std::string item = body.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t eq = item.find('=');
        // Messages name fields, never values: those can be passwords.
        if (eq == std::string::npos)
            return Fail(error, "field without a value");
        std::string name, value;
        if (!DecodeFormText(item.substr(0, eq), name))
            return Fail(error, "broken escape in a field name");
        if (!DecodeFormText(item.substr(eq + 1), value))
            return Fail(error, "broken escape in the value of field " + name);
        if (prefixed) {
            if (name.compare(0, kPrefix.size(), kPrefix) != 0 || name.size() == kPrefix.size())
                return Fail(error, "not a setobject field: " + name);
            name.erase(0, kPrefix.size());
        } else if (name.empty()) {
            return Fail(error, "field without a name");
        }
        while (!name.empty() && name.back() == ' ')
            name.pop_back(); // "setobject_ServiceCIFS =IGNORE"
        if (!(prefixed && value == "IGNORE")) {
            FormCell cell;
            cell.field = name;
            size_t pos = 0;
            if (prefixed) {
                if (value.size() < 2 || (value[0] != 'b' && value[0] != 'c' && value[0] != 'e'))
                    return Fail(error, "bad tag in field " + name);
                cell.role = value[0];
                pos = 1;
            }
            if (value.size() <= pos || (value[pos] != 'i' && value[pos] != 's'))
                return Fail(error, "bad type in field " + name);
            cell.type = value[pos];
            ++pos;
            size_t valueEq = value.find('=', pos);
            if (valueEq == std::string::npos)
                return Fail(error, "no value after the OID in field " + name);
            cell.oid = value.substr(pos, valueEq - pos);
            if (!IsDottedOid(cell.oid))
                return Fail(error, "bad OID in field " + name);
            cell.value = value.substr(valueEq + 1);
            if (cell.type == 'i' && !IsInteger32(cell.value))
                return Fail(error, "bad integer in field " + name);
            if (cell.role == 'b' || cell.role == 'e') {
                if (cell.type != 'i')
                    return Fail(error, "row status must be an integer in field " + name);
            }
            parsed.push_back(std::move(cell));
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    cells = std::move(parsed);
    return true;
}

namespace {

// Position just after the boundary line that starts at or after from
// (the boundary text, optionally preceded by "--", at a line start), and
// where that line starts (the "\r\n" before it when there is one).
bool FindBoundaryLine(const std::string& body, const std::string& boundary, size_t from, size_t& lineStart,
                      size_t& after)
{
    size_t pos = from;
    while ((pos = body.find(boundary, pos)) != std::string::npos) {
        size_t begin = pos;
        if (begin >= 2 && body.compare(begin - 2, 2, "--") == 0 && (begin == 2 || body[begin - 3] == '\n'))
            begin -= 2;
        bool atLineStart = begin == 0 || body[begin - 1] == '\n';
        size_t end = pos + boundary.size();
        bool lineEnds = body.compare(end, 2, "\r\n") == 0 || body.compare(end, 2, "--") == 0;
        if (atLineStart && lineEnds) {
            lineStart = begin;
            if (begin >= 2 && body.compare(begin - 2, 2, "\r\n") == 0)
                lineStart = begin - 2;
            after = pos + boundary.size();
            return true;
        }
        pos += 1;
    }
    return false;
}

} // namespace

bool ParseRemoteInstallBody(const std::string& body, const std::string& boundary, std::string& package,
                            std::string* error)
{
    package.clear();
    if (boundary.empty() || boundary.size() > 70)
        return Fail(error, "bad boundary");
    size_t lineStart = 0, after = 0;
    if (!FindBoundaryLine(body, boundary, 0, lineStart, after) || lineStart != 0)
        return Fail(error, "the upload does not start with its boundary");
    bool havePackage = false, haveSubmit = false;
    std::string data;
    for (;;) {
        if (body.compare(after, 2, "--") == 0)
            break; // closing boundary
        if (body.compare(after, 2, "\r\n") != 0)
            return Fail(error, "boundary line not ended");
        size_t headersStart = after + 2;
        size_t headersEnd = body.find("\r\n\r\n", headersStart);
        if (headersEnd == std::string::npos)
            return Fail(error, "part without headers");
        std::string headers = body.substr(headersStart, headersEnd - headersStart);
        size_t dataStart = headersEnd + 4;
        size_t nextLine = 0, nextAfter = 0;
        if (!FindBoundaryLine(body, boundary, dataStart, nextLine, nextAfter) || nextLine < dataStart)
            return Fail(error, "part not closed");
        if (body.compare(nextLine, 2, "\r\n") != 0)
            return Fail(error, "part not closed by a line break");
        std::string content = body.substr(dataStart, nextLine - dataStart);
        if (headers.find("name=\"package\"") != std::string::npos) {
            havePackage = true;
            data = std::move(content);
        } else if (headers.find("name=\"Submit\"") != std::string::npos) {
            haveSubmit = true;
        }
        after = nextAfter;
    }
    if (!havePackage)
        return Fail(error, "no package part");
    if (!haveSubmit)
        return Fail(error, "no Submit part");
    package = std::move(data);
    return true;
}

} // namespace testbed
