// The layer's one connection to the directory and the two error boxes through which every
// operation of the layer reports a failed client call.
#include "nwapi/nwapi.h"

#include "platform/ports.h"

#include <cstdlib>
#include <cstring>

namespace nwapi {

namespace {

constexpr int PasswordAttempts = 3;

// Passes the questions for the password on, counting them; after a refused one the next
// prompt starts with the reason.
class PasswordQuestions : public platform::CredentialsPort {
public:
    explicit PasswordQuestions(platform::CredentialsPort* inner) : inner_(inner) {}
    bool askPassword(const std::string& prompt, std::string& password) override {
        ++asked;
        return inner_->askPassword(refused ? platform::joinLines({"Kennwort falsch", prompt}) : prompt, password);
    }
    int asked = 0;
    bool refused = false;

private:
    platform::CredentialsPort* inner_;
};

// The primary connection; a password typed wrong is asked for again, up to three times in all.
// A wrong password from a file is not tried again: it would only count against the account.
nw::NWCCODE openPrimaryConnection(uint32_t& connRef) {
    const platform::Ports saved = platform::ports();
    PasswordQuestions questions(saved.credentials);
    platform::Ports asking = saved;
    asking.credentials = &questions;
    struct Restore {
        const platform::Ports& ports;
        ~Restore() { platform::installPorts(ports); }
    } restore{saved};
    platform::installPorts(asking);
    nw::NWCCODE status = nw::NWCCGetPrimConnRef(&connRef);
    for (int attempt = 1; status == nw::TARVEL_LDAP_BAD_CREDENTIALS && questions.asked == attempt &&
                          attempt < PasswordAttempts;
         ++attempt) {
        questions.refused = true;
        status = nw::NWCCGetPrimConnRef(&connRef);
    }
    return status;
}

}  // namespace

LayerState& layer() {
    static LayerState state;
    return state;
}

void resetLayerForTesting() { layer() = LayerState{}; }

void InitNWConnection(bool& ok) {
    ok = true;
    LayerState& L = layer();
    if (L.initialised) return;
    L.initialised = true;

    // Every step runs whatever the earlier ones returned; only the library, the tables and the
    // directory context decide whether the layer is usable.
    nw::NWCCODE status = nw::NWCallsInit(nullptr, nullptr);
    ok = (status == 0);
    if (status != 0) ShowNWError(status, "NWCallsInit");

    nw::NWLlocaleconv(&L.locale);
    status = nw::NWInitUnicodeTables(L.locale.country_id, L.locale.code_page);
    ok = ok && status == 0;
    if (status != 0) ShowNWError(status, "NWInitUnicodeTables");

    status = nw::NWCLXInit(nullptr, nullptr);
    if (status != 0) ShowNWError(status, "NWCLXInit");

    status = openPrimaryConnection(L.primaryConnRef);
    if (status != 0) {
        L.connectionFailure = status;
        ShowNWError(status, "NWCCGetPrimConnRef");
    }

    status = nw::NWCCOpenConnByRef(L.primaryConnRef, nw::NWCC_OPEN_LICENSED, 0, &L.connection);
    if (status != 0) {
        if (L.connectionFailure == 0) L.connectionFailure = status;
        ShowNWError(status, "NWCCOpenConnByRef");
    }

    std::memset(L.serverName, 0, sizeof L.serverName);
    status = nw::NWCCGetConnRefInfo(L.primaryConnRef, nw::NWCC_INFO_SERVER_NAME, nw::NW_MAX_SERVER_NAME_LEN,
                                    L.serverName);
    if (status != 0) {
        ShowNWError(status, "NWCCGetConnRefInfo");
        std::memset(L.serverName, 0, sizeof L.serverName);
        L.serverName[0] = '?';
    }
    L.serverName[sizeof L.serverName - 1] = '\0';

    L.context = -1;
    nw::NWDSCCODE ds = nw::NWDSCreateContextHandle(&L.context);
    ok = ok && ds == 0;
    if (ds != 0) {
        ShowNDSError(ds, "NWDSCreateContextHandle");
        nw::NWDSCCODE freed = nw::NWDSFreeContext(L.context);
        if (freed != 0) ShowNDSError(freed, "NWDSFreeContext");
        nw::NWFreeUnicodeTables();
        L.context = -1;
        return;
    }
    ModifyContextFlags(L.context, '+', nw::DCV_TYPELESS_NAMES | nw::DCV_CANONICALIZE_NAMES);
}

void DoneNWConnection() {
    LayerState& L = layer();
    if (L.modifyBuffer) {
        nw::NWDSCCODE status = nw::NWDSFreeBuf(L.modifyBuffer);
        if (status != 0) ShowNDSError(status, "NWDSFreeBuf");
        L.modifyBuffer = nullptr;
    }
    if (L.initialised) {
        nw::NWDSCCODE status = nw::NWDSFreeContext(L.context);
        if (status != 0) ShowNDSError(status, "NWDSFreeContext");
        nw::NWFreeUnicodeTables();
        L.context = -1;  // a later call must not reach a freed (perhaps reused) handle
    }
    L.initialised = false;
}

void ShowNWError(uint32_t code, const std::string& operation) {
    platform::showMessage("Fehler " + std::to_string(code) + ". " + operation, "NW-Fehler",
                          platform::Buttons::OkCancel);
}

void ShowNDSError(int32_t code, const std::string& operation) {
    LayerState& L = layer();
    L.lastNDSError = code;
    if (L.suppressionArmed && std::abs(static_cast<int64_t>(code)) == std::abs(static_cast<int64_t>(L.expectedCode))) {
        L.suppressionArmed = false;
        return;
    }
    platform::showMessage("Fehler " + std::to_string(code) + ". " + operation, "NDS-Fehler",
                          platform::Buttons::OkCancel);
}

void ExpectNDSError(int32_t code) {
    LayerState& L = layer();
    L.suppressionArmed = true;
    L.expectedCode = code;
}

int32_t GetLastNDSError() { return layer().lastNDSError; }

void ModifyContextFlags(nw::NWDSContextHandle context, char operation, uint32_t mask) {
    uint32_t flags = 0;
    nw::NWDSGetContext(context, nw::DCK_FLAGS, &flags);
    if (operation == '+')
        flags |= mask;
    else if (operation == '-')
        flags &= ~mask;
    nw::NWDSSetContext(context, nw::DCK_FLAGS, &flags);
}

}  // namespace nwapi
