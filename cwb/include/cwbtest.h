#pragma once

// Test seam of the Client Access layer (C++ only). Lets a test choose the configured
// systems, arm failures of any call and see which calls were made, without another
// code path in the library.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavo::server {
class HostEngine;
}

namespace cwbtest {

// Drops every handle, connection, embedded host, armed failure, logged call, configured
// system, sign-on prompt and remembered password: the library is as a new process finds
// it. Tests reach it through ResetProcessState, with every other layer's state.
void Reset();

// Uses this text as the systems file (same syntax, same checks); UseSystemsFile goes
// back to the real file.
void UseSystems(std::string iniText);
void UseSystemsFile();

// The next `times` calls of `function` (a C API name such as "cwbRC_StartSys") whose
// subject matches `subject` (empty: any) return `rc`, with `text` put into the error
// handle when the call has one. `needed` is reported by calls that report a size.
// Subjects: the system name for cwbRC_StartSys and cwbDQ_Open, the program name for
// cwbRC_CallPgm and cwbRC_CreatePgm, empty otherwise.
void FailNext(std::string function, unsigned rc, std::string text = {}, int times = 1,
              std::string subject = {}, unsigned long needed = 0);

// As FailNext, but lets the first `pass` matching calls through before it fires.
void FailAfter(std::string function, int pass, unsigned rc, std::string text = {});

struct Call {
    std::string function;
    std::string subject;
};
std::vector<Call> Calls();
int CountCalls(std::string_view function, std::string_view subject = {});
void ClearCalls();

#if TAVO_EMBEDDED_HOST
// The embedded host behind a configured system (opened when needed).
std::shared_ptr<tavo::server::HostEngine> Engine(std::string_view systemName);
#endif

} // namespace cwbtest
