#pragma once
// What the device's web CGI reads out of the forms the program posts.
#include <string>
#include <vector>

namespace testbed {

// One table cell a form sets.
struct FormCell {
    std::string field; // form field name without "setobject_" (for messages)
    char role = 0;     // 'b' row start, 'c' column, 'e' row end; 0 for a one-letter tag
    char type = 'i';   // 'i' INTEGER, 's' OCTET STRING
    std::string oid;   // full dotted OID of the cell
    std::string value; // decoded value
};

// Decodes one x-www-form-urlencoded item ("+" is a blank, "%XX" a byte);
// false on a broken "%" escape.
bool DecodeFormText(const std::string& text, std::string& out);

// Parses a form body into cells, in the order sent. prefixed: the
// "setobject" pages, whose fields are "setobject_<name>" with a two-letter
// tag [bce][is] (or the bare value "IGNORE", which sets nothing); otherwise
// the disk set-up page, whose fields carry a one-letter tag [is]. Every
// value is "<tag><OID>=<value>" after decoding. Integer values must fit a
// 32-bit INTEGER. Returns false, with the reason in *error and no cells, for
// a malformed body.
bool ParseFormCells(const std::string& body, bool prefixed, std::vector<FormCell>& cells, std::string* error = nullptr);

// Takes the package's bytes out of a "/cgi-bin/remoteinstall" upload: the
// part named "package" between its blank line and the next boundary line.
// Boundary lines are accepted with or without the leading "--". False for
// a body without such a part or without the "Submit" part.
bool ParseRemoteInstallBody(const std::string& body, const std::string& boundary, std::string& package,
                            std::string* error = nullptr);

} // namespace testbed
