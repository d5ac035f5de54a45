#include "SystemSelection.h"

#include <cstdio>

#include "Latin1Text.h"
#include "MessagePresenter.h"
#include "ProcessState.h"
#include "SettingsFile.h"
#include "Strings.h"
#include "cwbco.h"
#include "cwbsv.h"

namespace {

constexpr unsigned long kNameArea = 200;
constexpr unsigned long kErrorTextArea = 512;

std::function<void(const std::string&)>& TitleSetter() {
    static std::function<void(const std::string&)> setter;
    return setter;
}
[[maybe_unused]] const bool registered =
    RegisterProcessReset([](KeepHosts) { TitleSetter() = nullptr; });

template <class... Args> std::string Format(const char* pattern, Args... args) {
    char text[1024];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

// The first steps both callers share: an error handle, a list handle and the default
// system's name. Shows the failure and returns false when one of them fails.
struct Walk {
    cwbSV_ErrHandle errors = 0;
    cwbCO_SysListHandle list = 0;
    std::string defaultName;
    unsigned rc = CWB_OK; // of the step that failed
};

// The error text of a failed call: "%s" on success, else the fetch's own failure.
bool FetchErrorText(cwbSV_ErrHandle errors, std::string& text, unsigned& rc) {
    char area[kErrorTextArea] = {};
    unsigned long length = 0;
    rc = cwbSV_GetErrText(errors, area, kErrorTextArea, &length);
    if (rc != CWB_OK)
        return false;
    text = area;
    cwbSV_DeleteErrHandle(errors);
    return true;
}

bool StartWalk(Walk& walk) {
    unsigned& rc = walk.rc;
    rc = cwbSV_CreateErrHandle(&walk.errors);
    if (rc != CWB_OK) {
        ShowMessageBox(Format("cwbSV_CreateErrHandle failed with return code %d.", rc));
        return false;
    }
    rc = cwbCO_CreateSysListHandle(&walk.list, walk.errors);
    if (rc != CWB_OK) {
        std::string text;
        unsigned textRc = 0;
        ShowMessageBox(FetchErrorText(walk.errors, text, textRc)
                           ? text
                           : Format("cwbSV_GetErrText failed with return code %d.", textRc));
        return false;
    }
    char name[kNameArea] = {};
    unsigned long needed = 0;
    rc = cwbCO_GetDefaultSysName(name, kNameArea, &needed, walk.errors);
    if (rc != CWB_OK) {
        std::string message;
        if (rc == CWB_BUFFER_OVERFLOW)
            message = Format("Buffer size to small, recommended size is %d.\r\n",
                             static_cast<int>(needed));
        std::string text;
        unsigned textRc = 0;
        message += FetchErrorText(walk.errors, text, textRc)
                       ? text + "\r\n"
                       : Format("cwbSV_GetErrText failed with return code %d.\r\n", textRc);
        ShowMessageBox(message);
        return false;
    }
    walk.defaultName = name;
    return true;
}

unsigned ListSize(cwbCO_SysListHandle list, unsigned long& size) {
    const unsigned rc = cwbCO_GetSysListSize(list, &size);
    if (rc != CWB_OK)
        ShowMessageBox(Format("cwbCO_GetSysListSize failed with return code %d.", rc));
    return rc;
}

// One entry; a failure costs that entry only.
bool NextName(cwbCO_SysListHandle list, std::string& name) {
    char area[kNameArea] = {};
    unsigned long needed = 0;
    const unsigned rc = cwbCO_GetNextSysName(list, area, kNameArea, &needed);
    if (rc != CWB_OK) {
        std::string message;
        if (rc == CWB_BUFFER_OVERFLOW)
            message = Format("Buffer size too small, recommended size is %d.\r\n",
                             static_cast<int>(needed));
        message += Format("cwbCO_GetNextSysName failed with return code %d.\r\n", rc);
        ShowMessageBox(message);
        return false;
    }
    name = NormalizeSystemName(area);
    return true;
}

unsigned EndWalk(cwbCO_SysListHandle list) {
    const unsigned rc = cwbCO_DeleteSysListHandle(list);
    if (rc != CWB_OK)
        ShowMessageBox(Format("cwbCO_DeleteSysListHandle failed with return code %d.\n\r", rc));
    return rc;
}

} // namespace

std::string NormalizeSystemName(std::string_view name) {
    // the rule by which the picker shows names, too
    return tavo::text::DisplayName(name);
}

unsigned ChooseStartupSystem() {
    const std::string stored = LoadStartupSettings();
    Walk walk;
    if (!StartWalk(walk))
        return walk.rc;
    std::string candidate = NormalizeSystemName(walk.defaultName);
    if (stored != candidate) {
        cwbSV_DeleteErrHandle(walk.errors);
        unsigned long size = 0;
        if (const unsigned rc = ListSize(walk.list, size); rc != CWB_OK)
            return rc;
        for (unsigned long i = 1; i <= size; ++i) {
            std::string name;
            if (NextName(walk.list, name) && name == stored) {
                candidate = name;
                break;
            }
        }
        if (const unsigned rc = EndWalk(walk.list); rc != CWB_OK)
            return rc;
    }
    CurrentSystem = candidate;
    ShowSystemInTitle();
    return CWB_OK;
}

std::string SystemTitle() {
    const auto title = LoadString(IDS_DOCUMENT_TITLE);
    return CurrentSystem.empty() ? title : title + " (" + CurrentSystem + ")";
}

void ShowSystemInTitle() {
    if (TitleSetter())
        TitleSetter()(SystemTitle());
}

void SetTitleSetter(std::function<void(const std::string&)> setter) {
    TitleSetter() = std::move(setter);
}

int FindByPrefix(const std::vector<std::string>& names, std::string_view prefix) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto& name = names[i];
        if (name.size() < prefix.size())
            continue;
        bool match = true;
        for (std::size_t j = 0; j < prefix.size() && match; ++j)
            match = tavo::text::LowerLatin1(static_cast<unsigned char>(name[j])) ==
                    tavo::text::LowerLatin1(static_cast<unsigned char>(prefix[j]));
        if (match)
            return static_cast<int>(i);
    }
    return -1;
}

std::optional<std::vector<std::string>> ConfiguredSystems() {
    cwbSV_ErrHandle errors = 0;
    cwbSV_CreateErrHandle(&errors);
    cwbCO_SysListHandle list = 0;
    if (const unsigned rc = cwbCO_CreateSysListHandle(&list, errors); rc != CWB_OK) {
        std::string text;
        unsigned textRc = 0;
        ShowMessageBox(FetchErrorText(errors, text, textRc)
                           ? text
                           : Format("cwbCO_CreateSysListHandle failed with return code %d.", rc));
        return std::nullopt;
    }
    cwbSV_DeleteErrHandle(errors);
    std::vector<std::string> names;
    unsigned long size = 0;
    if (ListSize(list, size) == CWB_OK)
        for (unsigned long i = 1; i <= size; ++i)
            if (std::string name; NextName(list, name))
                names.push_back(std::move(name));
    EndWalk(list);
    return names;
}

SystemChoices LoadSystemChoices() {
    SystemChoices choices;
    Walk walk;
    if (!StartWalk(walk))
        return choices;
    const std::string preselection = NormalizeSystemName(walk.defaultName);
    cwbSV_DeleteErrHandle(walk.errors);
    unsigned long size = 0;
    if (ListSize(walk.list, size) != CWB_OK)
        return choices;
    for (unsigned long i = 1; i <= size; ++i) {
        std::string name;
        if (NextName(walk.list, name))
            choices.names.push_back(std::move(name));
    }
    if (EndWalk(walk.list) != CWB_OK)
        return choices;
    choices.selection = FindByPrefix(choices.names, preselection);
    const auto stored = ReadStoredSystemName();
    if (stored.opened && !stored.name.empty())
        if (const int match = FindByPrefix(choices.names, stored.name); match >= 0)
            choices.selection = match;
    return choices;
}

void AcceptSystemChoice(const SystemChoices& choices, int index) {
    CurrentSystem = index >= 0 && static_cast<std::size_t>(index) < choices.names.size()
                        ? choices.names[static_cast<std::size_t>(index)]
                        : std::string();
    SaveSystemChoice();
    ShowSystemInTitle();
}
