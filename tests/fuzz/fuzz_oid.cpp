// OID texts and the conversion of a text to a value of each syntax: nothing
// reads or writes out of bounds, a parsed OID prints back to a text that
// parses to the same sub-identifiers, and every converted value is one of
// its syntax.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "y_snmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const int kSyntaxes[] = {sNMP_SYNTAX_INT,    sNMP_SYNTAX_OCTETS, sNMP_SYNTAX_NULL,    sNMP_SYNTAX_OID,
                                    sNMP_SYNTAX_IPADDR, sNMP_SYNTAX_CNTR32, sNMP_SYNTAX_GAUGE32, sNMP_SYNTAX_TIMETICKS,
                                    sNMP_SYNTAX_OPAQUE, sNMP_SYNTAX_CNTR64};
    const int syntax = kSyntaxes[data[0] % (sizeof kSyntaxes / sizeof kSyntaxes[0])];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    std::vector<uint32_t> oid;
    if (ParseOidText(text, oid)) {
        if (oid.size() < 2 || oid.size() > 128)
            std::abort();
        std::vector<uint32_t> again;
        const std::string printed = OidToText(oid);
        if (!ParseOidText(printed, again) || again != oid)
            std::abort();
    }

    // The C form reads up to the first NUL.
    const std::string cText = text.c_str();
    Vb vb;
    vb.oid = "1.3.6.1";
    Vb before = vb;
    if (SetVbValueFromString(vb, syntax, cText.c_str())) {
        if (vb.syntax != syntax)
            std::abort();
        switch (syntax) {
        case sNMP_SYNTAX_INT:
            if (vb.number < INT32_MIN || vb.number > INT32_MAX)
                std::abort();
            break;
        case sNMP_SYNTAX_CNTR32:
        case sNMP_SYNTAX_GAUGE32:
        case sNMP_SYNTAX_TIMETICKS:
            if (vb.number < 0 || vb.number > static_cast<int64_t>(UINT32_MAX))
                std::abort();
            break;
        case sNMP_SYNTAX_OCTETS:
            if (vb.octets != cText)
                std::abort();
            break;
        case sNMP_SYNTAX_OID:
            if (!ParseOidText(vb.octets, oid))
                std::abort();
            break;
        case sNMP_SYNTAX_IPADDR:
            if (vb.octets.size() != 4)
                std::abort();
            break;
        default: std::abort(); // no other syntax converts from text
        }
        (void)vb.GetPrintable();
    } else if (vb.syntax != before.syntax || vb.number != before.number || vb.octets != before.octets) {
        std::abort();
    }
    return 0;
}
