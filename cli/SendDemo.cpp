// A first look at the host link without the window: sends one notification to the
// default system (the embedded DEMO host out of the box) and shows what the host's
// outbox then holds.

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "HostEngine.h"
#include "HostLink.h"
#include "ProcessState.h"
#include "cwbco.h"

namespace {

std::string DefaultSystem() {
    cwbSV_ErrHandle errors = 0;
    cwbSV_CreateErrHandle(&errors);
    char name[200] = {};
    unsigned long needed = 0;
    std::string result;
    if (cwbCO_GetDefaultSysName(name, sizeof name, &needed, errors) == 0) {
        result = name;
        for (std::size_t i = 1; i < result.size(); ++i)
            result[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(result[i])));
    } else {
        char text[512] = {};
        unsigned long length = 0;
        cwbSV_GetErrText(errors, text, sizeof text, &length);
        std::fprintf(stderr, "No default system: %s\n", text);
    }
    cwbSV_DeleteErrHandle(errors);
    return result;
}

std::string DemoDatabase() {
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    std::string base = data && *data ? data : std::string(home ? home : ".") + "/.local/share";
    return base + "/tavo400/demo.db";
}

} // namespace

int main() {
    CurrentSystem = DefaultSystem();
    if (CurrentSystem.empty())
        return 3;
    std::printf("System: %s\n", CurrentSystem.c_str());
    bool accepted = false;
    {
        CHostLink link;
        accepted = link.SubmitMessage(1, 2, "jsmith    mjones    ",
                                      "The nightly backup finished at 02:14.", "Backup done");
    }
    std::printf("%s\n", accepted ? "Message Successfully Delivered to TAVO/400" : "Not accepted.");
    if (CurrentSystem != "Demo")
        return accepted ? 0 : 1;
    tavo::server::HostEngine host(DemoDatabase());
    const auto outbox = host.Outbox();
    std::printf("\nThe DEMO host's outbox holds %zu message(s); the newest:\n", outbox.size());
    for (std::size_t i = 0; i < outbox.size() && i < 3; ++i) {
        const auto& m = outbox[i];
        std::string names;
        for (const auto& n : m.names)
            names += (names.empty() ? "" : ", ") + n;
        std::printf("  #%lld %s  to %s (%s)  modes [%s]\n    %s: %s\n",
                    static_cast<long long>(m.id), m.acceptedAt.c_str(), names.c_str(),
                    m.groups ? "groups" : "recipients", m.modes.c_str(), m.subject.c_str(),
                    m.body.c_str());
    }
    return accepted ? 0 : 1;
}
