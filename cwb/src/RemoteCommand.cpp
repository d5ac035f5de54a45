#include <cstring>

#include "State.h"
#include "cwbrc.h"

using namespace cwb;

namespace {
constexpr std::size_t kMaxObjectName = 10; // host object and library names
}

extern "C" {

unsigned int cwbRC_StartSys(const char* system, unsigned long /*reserved*/,
                            cwbRC_SysHandle* request) {
    if (auto injected = Intercept("cwbRC_StartSys", system ? system : ""))
        return injected->rc;
    if (!system || !request)
        return CWB_INVALID_POINTER;
    *request = 0;
    Status status;
    auto backend = OpenBackend(system, Use::Programs, status, SignOnPrompting::Allowed);
    if (!backend)
        return status.rc;
    auto connection = std::make_shared<Connection>();
    connection->system = system;
    connection->backend = std::move(backend);
    *request = Connections().Add(std::move(connection));
    return CWB_OK;
}

unsigned int cwbRC_EndSys(cwbRC_SysHandle system) {
    if (auto injected = Intercept("cwbRC_EndSys"))
        return injected->rc;
    return Connections().Remove(system) ? CWB_OK : CWBRC_INVALID_SYSTEM_HANDLE;
}

unsigned int cwbRC_CreatePgm(const char* programName, const char* libraryName,
                             cwbRC_PgmHandle* program) {
    if (auto injected = Intercept("cwbRC_CreatePgm", programName ? programName : ""))
        return injected->rc;
    if (!programName || !libraryName || !program)
        return CWB_INVALID_POINTER;
    const auto nameLength = std::strlen(programName);
    const auto libraryLength = std::strlen(libraryName);
    if (nameLength == 0 || nameLength > kMaxObjectName || libraryLength == 0 ||
        libraryLength > kMaxObjectName)
        return CWBRC_INVALID_PROGRAM;
    auto created = std::make_shared<Program>();
    created->name = programName;
    created->library = libraryName;
    *program = Programs().Add(std::move(created));
    return CWB_OK;
}

unsigned int cwbRC_DeletePgm(cwbRC_PgmHandle program) {
    if (auto injected = Intercept("cwbRC_DeletePgm"))
        return injected->rc;
    return Programs().Remove(program) ? CWB_OK : CWBRC_INVALID_PROGRAM;
}

unsigned int cwbRC_AddParm(cwbRC_PgmHandle program, unsigned short type, unsigned long length,
                           const unsigned char* parameter) {
    if (auto injected = Intercept("cwbRC_AddParm"))
        return injected->rc;
    auto target = Programs().Get(program);
    if (!target)
        return CWBRC_INVALID_PROGRAM;
    if (type < CWBRC_INPUT || type > CWBRC_INOUT)
        return CWBRC_INVALID_TYPE;
    if (!parameter && length > 0)
        return CWB_INVALID_POINTER;
    if (target->parms.size() >= CWBRC_MAX_PARMS)
        return CWBRC_TOO_MANY_PARMS;
    // Output areas are the caller's to be filled, as with the platform's API.
    target->parms.push_back({type, const_cast<unsigned char*>(parameter), length});
    return CWB_OK;
}

unsigned int cwbRC_CallPgm(cwbRC_SysHandle system, cwbRC_PgmHandle program,
                           cwbSV_ErrHandle msgHandle) {
    auto target = Programs().Get(program);
    if (auto injected = Intercept("cwbRC_CallPgm", target ? target->name : "")) {
        ClearErrors(msgHandle);
        return Fail(msgHandle, injected->rc, injected->text);
    }
    ClearErrors(msgHandle);
    auto connection = Connections().Get(system);
    if (!connection)
        return Fail(msgHandle, CWBRC_INVALID_SYSTEM_HANDLE, "The system handle is not valid.");
    if (!target)
        return Fail(msgHandle, CWBRC_INVALID_PROGRAM, "The program handle is not valid.");
    std::lock_guard lock(connection->use);
    auto status = connection->backend->CallProgram(target->name, target->library, target->parms);
    return status.ok() ? CWB_OK : Fail(msgHandle, status);
}

} // extern "C"
