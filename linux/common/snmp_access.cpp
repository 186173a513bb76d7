#include "snmp_access.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "snmp_objects.h"
#include "snmp_value.h"

namespace {

constexpr std::size_t kSettingMax = 32;  // bytes, terminating NUL included

struct Module {
    std::array<char, kSettingMax> agent{};
    std::array<char, kSettingMax> community{};
    netsnmp_session* session = nullptr;
    std::FILE* report = stdout;
    bool library_ready = false;
};

Module g;

void Report(const char* format, const char* text) {
    if (!g.report) return;
    std::fprintf(g.report, format, text);
    std::fflush(g.report);
}

void CopySetting(std::array<char, kSettingMax>& field, std::string_view text) {
    field.fill('\0');
    std::memcpy(field.data(), text.data(), std::min(text.size(), kSettingMax - 1));
}

void EnsureLibrary() {
    if (g.library_ready) return;
    // No MIB files, no configuration files, no persistent state: the programs speak numeric
    // identifiers only, and nothing under the user's home or /var/lib/snmp may change what a
    // daemon guarding the machine's power does.
    setenv("MIBS", "", 1);
    setenv("MIBDIRS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_QUICK_PRINT, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_NUMERIC_TIMETICKS, 1);
    if (!g.report) snmp_disable_log();
    init_snmp("kelvora");
    g.library_ready = true;
}

bool NoAgent() {
    return std::strncmp(g.agent.data(), "127", 3) == 0;
}

struct ObjectId {
    std::array<oid, MAX_OID_LEN> parts{};
    std::size_t length = 0;
};

bool ParseOid(std::string_view text, ObjectId& id) {
    std::array<char, 64> buffer{};
    if (text.size() >= buffer.size()) {
        Report("Invalid object identifier: %s\n", std::string(text).c_str());
        return false;
    }
    std::memcpy(buffer.data(), text.data(), text.size());
    id.length = id.parts.size();
    if (!read_objid(buffer.data(), id.parts.data(), &id.length)) {
        Report("Invalid object identifier: %s\n", buffer.data());
        return false;
    }
    return true;
}

// One request with one variable; the response, or nullptr with `status` saying why.
netsnmp_pdu* Exchange(netsnmp_pdu* request, int& status) {
    netsnmp_pdu* response = nullptr;
    status = snmp_synch_response(g.session, request, &response);
    if (status != STAT_SUCCESS) {
        if (response) snmp_free_pdu(response);
        return nullptr;
    }
    return response;
}

struct PduFree {
    void operator()(netsnmp_pdu* p) const { snmp_free_pdu(p); }
};
using Response = std::unique_ptr<netsnmp_pdu, PduFree>;

}  // namespace

void upsconf_load(std::string_view agent_ip, std::string_view community) {
    CopySetting(g.agent, agent_ip);
    CopySetting(g.community, community);
}

void UPS_close() {
    if (g.session) snmp_close(g.session);
    g.session = nullptr;
}

bool UPS_is_open() {
    return g.session != nullptr;
}

int UPS_open() {
    EnsureLibrary();
    // A reconnect replaces the session: the old one, its socket and its buffers go first.
    UPS_close();
    netsnmp_session settings;
    snmp_sess_init(&settings);
    settings.version = SNMP_VERSION_1;
    settings.peername = g.agent.data();
    settings.community = reinterpret_cast<u_char*>(g.community.data());
    settings.community_len = std::strlen(g.community.data());
    settings.retries = SNMP_DEFAULT_RETRIES;
    settings.timeout = SNMP_DEFAULT_TIMEOUT;
    g.session = snmp_open(&settings);  // copies what it keeps
    return g.session ? 1 : -1;
}

int UPS_init() {
    if (UPS_open() != 1) return -1;
    std::string probe = "blank";
    if (UPS_getvalue(probe, snmp::Oid(snmp::kLineVoltage)) == 0 && probe != "blank") return 1;
    UPS_close();
    return -1;
}

int UPS_getvalue(std::string& out, std::string_view oid_text) {
    if (!g.session || NoAgent()) return -1;
    ObjectId id;
    if (!ParseOid(oid_text, id)) return -1;
    netsnmp_pdu* request = snmp_pdu_create(SNMP_MSG_GET);
    snmp_add_null_var(request, id.parts.data(), id.length);
    int status = 0;
    Response response(Exchange(request, status));
    if (!response) return -1;
    if (response->errstat != SNMP_ERR_NOERROR) {
        if (response->errstat == SNMP_ERR_NOSUCHNAME) Report("%s\n", std::string(oid_text).c_str());
        return -1;
    }
    const netsnmp_variable_list* var = response->variables;
    // An answer about another object than the one asked for is no answer.
    if (!var || snmp_oid_compare(var->name, var->name_length, id.parts.data(), id.length) != 0) {
        return -1;
    }
    const snmp::Object* row = snmp::Find(oid_text);
    std::string text;
    if (!snmp::PrintValue(*var, row ? row->kind : snmp::Kind::kText, text)) return -1;
    out = std::move(text);
    return 0;
}

int UPS_setvalue(std::string_view oid_text, long value, int& result) {
    result = 0;
    if (!g.session || NoAgent()) return result;
    ObjectId id;
    if (!ParseOid(oid_text, id)) return result;
    netsnmp_pdu* request = snmp_pdu_create(SNMP_MSG_SET);
    snmp_pdu_add_variable(request, id.parts.data(), id.length, ASN_INTEGER, &value, sizeof value);
    int status = 0;
    Response response(Exchange(request, status));
    if (!response) {
        if (status == STAT_TIMEOUT) {
            Report("No Response from %s\n", "Destination");
        } else {
            Report("%s\n", "An error occurred, Quitting");
        }
        return result;
    }
    result = response->errstat == SNMP_ERR_NOERROR ? 1 : 2;
    return result;
}

void UPS_report_to(std::FILE* stream) {
    g.report = stream;
    if (!stream && g.library_ready) snmp_disable_log();
}
