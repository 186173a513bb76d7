#include "snmp_value.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

namespace snmp {

// The library's own printing would do for plain values, but it turns a string with one
// unprintable byte into hex, and with a short buffer it fails instead of cutting: both are
// values an agent chooses, so they are printed here, within bounds.
bool PrintValue(const variable_list& var, Kind kind, std::string& out) {
    switch (var.type) {
        case ASN_INTEGER:
            if (!var.val.integer) return false;
            out = std::to_string(*var.val.integer);
            return true;
        case ASN_GAUGE:  // also Unsigned32
        case ASN_COUNTER:
        case ASN_TIMETICKS:
            if (!var.val.integer) return false;
            // 32-bit unsigned on the wire; the library keeps them in a long.
            out = std::to_string(static_cast<unsigned long>(*var.val.integer) & 0xffffffffUL);
            return true;
        case ASN_OCTET_STR: {
            if (kind != Kind::kText) return false;
            std::size_t len = var.val_len;
            if (len > kValueMax - 2) len = kValueMax - 2;
            if (len > 0 && !var.val.string) return false;
            out.assign(1, '"');
            for (std::size_t i = 0; i < len; ++i) {
                unsigned char c = var.val.string[i];
                out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '.';
            }
            out += '"';
            return true;
        }
        default:
            return false;  // NULL, object identifiers, addresses, the v2 exceptions
    }
}

}  // namespace snmp
