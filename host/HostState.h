#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

#include "Records.h"
#include "cwbdq.h"
#include "cwbnl.h"
#include "cwbrc.h"
#include "cwbsv.h"

// The process-wide objects of the host link. They live for the run; the program
// objects are bound to the parameter areas below once, so every call sends whatever
// those areas hold at that moment.
struct HostAreas {
    unsigned char listParm1[records::kListRequestLength];
    unsigned char listParm2[records::kParmAreaLength];
    unsigned char sendParm1[records::kCodeParmLength];
    unsigned char sendParm2[records::kCodeParmLength];
    unsigned char sendParm3[records::kCodeParmLength];
    unsigned char sendParm4[records::kLongParmLength];
    unsigned char sendParm5[records::kParmAreaLength];
    unsigned char sendParm6[records::kParmAreaLength];
    char listRequest[records::kListRequestLength];
    unsigned char receive[records::kReceiveAreaLength];
    char entry[records::kListEntryLength + 1];
    unsigned char key[records::kKeyLength];
};

struct HostGlobals {
    // Connections by system name, compared byte for byte; kept for the run.
    std::unordered_map<std::string, cwbRC_SysHandle> SystemHandleMap;
    std::mutex HostMutex;
    bool HostSetupDone = false;
    cwbSV_ErrHandle ErrorHandle = 0;
    cwbRC_PgmHandle ListProgram = 0;
    cwbRC_PgmHandle SendProgram = 0;
    cwbNL_Converter ToHostConverter = 0;
    cwbNL_Converter FromHostConverter = 0;
    cwbDQ_QueueHandle ReplyQueue = 0; // opened by the set-up, for the system current then
    // The reply queue of every system a link has used, so a list is always read from
    // the queue of the system that was asked for it.
    std::unordered_map<std::string, cwbDQ_QueueHandle> ReplyQueues;
    cwbDQ_Data ReplyData = 0;
    // The stamp of the last list request, which the next one must not repeat.
    std::string LastListStamp;
    HostAreas Areas{};
};

HostGlobals& Host();

// Back to the state of a new process; part of ResetProcessState, which also releases
// the Client Access layer's handles.
void ResetHostState();

// A window's start, before its panes read the settings file over these: no host set up,
// no system chosen, the seven delivery modes on.
void StartInstanceState();

// Whole-record conversions through the process-wide converters; only after the set-up.
void ToHost(void* target, unsigned long targetLength, const void* source,
            unsigned long sourceLength);
void FromHost(void* target, unsigned long targetLength, const void* source,
              unsigned long sourceLength);
