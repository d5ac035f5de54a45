#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "AboutDlg.h"
#include "ChangeSystemDlg.h"
#include "DeliveryModesDlg.h"
#include "DialogSteps.h"
#include "DialogTemplates.h"
#include "HelpPopup.h"
#include "ProcessState.h"
#include "RecordingPresenter.h"
#include "Resource.h"
#include "Scratch.h"
#include "SettingsFile.h"
#include "Strings.h"
#include "SystemSelection.h"

namespace {

// Two systems on a port nobody serves: listing them asks no host.
constexpr const char* kSystems = "[systems]\ndefault = SYSA\n[SYSA]\naddress = tcp://127.0.0.1:9\n"
                                 "user = OPER\n[SYSB]\naddress = tcp://127.0.0.1:9\n";

std::string Record(std::string head) {
    head.resize(kSettingsRecordLength, ' ');
    return head;
}

// A new process, in a working directory of its own that holds `settings` as dftsys.ini.
class Process {
  public:
    explicit Process(const std::string& settings)
        : systems_{"TAVO400_SYSTEMS", (scratch_ / "systems.ini").string()} {
        std::ofstream(scratch_ / "systems.ini") << kSystems;
        std::filesystem::current_path(scratch_.path());
        std::ofstream("dftsys.ini", std::ios::binary) << settings;
        ResetProcessState();
        SetMessagePresenter(&shown);
    }
    ~Process() {
        ResetProcessState();
        std::filesystem::current_path(previous_);
    }
    RecordingPresenter shown;

  private:
    std::filesystem::path previous_ = std::filesystem::current_path();
    hostdtest::ScratchDir scratch_{"dialogs"};
    hostdtest::ScopedEnv systems_;
};

// Runs `dialog` modally, titled `caption`; `drive` works it as it shows.
INT_PTR Drive(CTemplateDialog& dialog, const std::wstring& caption,
              std::function<void(HWND)> drive) {
    DialogSteps steps({{caption, std::move(drive)}});
    const INT_PTR result = dialog.DoModal();
    EXPECT_TRUE(steps.Done());
    return result;
}

} // namespace

TEST(Dialogs, ChangeSystemWritesWhatTheSettingsLayerWritesForTheChoice) {
    const std::string before = Record("Sysa\r\nY YYY YY");
    std::string written;
    {
        Process process(before);
        std::string title;
        SetTitleSetter([&title](const std::string& text) { title = text; });
        CChangeSystemDlg dialog(nullptr);
        EXPECT_EQ(Drive(dialog, L"Change system",
                        [](HWND window) {
                            HWND list = GetDlgItem(window, IDC_SYSTEM_LIST);
                            EXPECT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 2);
                            EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 0); // the stored one
                            SendMessageW(list, CB_SETCURSEL, 1, 0);
                            Click(window, IDOK);
                        }),
                  IDOK);
        EXPECT_EQ(CurrentSystem, "Sysb");
        EXPECT_EQ(title, "TAVO/400 Express (Sysb)");
        written = hostdtest::ReadText("dftsys.ini");
        SetTitleSetter(nullptr);
    }
    Process fresh(before);
    CurrentSystem = "Sysb";
    SaveSystemChoice();
    EXPECT_EQ(written, hostdtest::ReadText("dftsys.ini"));
    EXPECT_NE(written, before);
}

TEST(Dialogs, DeliveryModesRefuseNoModeThenSaveTheTickedOnes) {
    Process process("");
    CurrentSystem = "Sysa";
    CDeliveryModesDlg dialog(nullptr);
    EXPECT_EQ(
        Drive(
            dialog, L"Delivery modes",
            [&process](HWND window) {
                // F1 on a box: the system's WM_KEYF1, answered with the box's topic
                SendMessageW(GetDlgItem(window, IDC_FAX), 0x004D, 0, 0);
                EXPECT_EQ(
                    HelpPopupTopic(),
                    FindControlTemplate(*FindDialogTemplate(IDD_DELIVERY_MODES), IDC_FAX)->helpId);
                for (const int box : {IDC_PAGER, IDC_EMAIL, IDC_FAX, IDC_NETWORK_MESSAGE,
                                      IDC_MESSAGE_QUEUE, IDC_TELEPHONE, IDC_SPOOLED_FILE})
                    Click(window, box);
                Click(window, IDOK);
                EXPECT_EQ(process.shown.shown, std::vector{LoadString(IDS_SELECT_DELIVERY_MODE)});
                Click(window, IDCANCEL);
            }),
        IDCANCEL);
    EXPECT_EQ(DeliveryModes.Pager, 1);
    EXPECT_EQ(hostdtest::ReadText("dftsys.ini"), "");

    // Message queue sits below Telephone on the dialog, after it among the record's flags.
    EXPECT_EQ(Drive(dialog, L"Delivery modes",
                    [](HWND window) {
                        for (const int box : {IDC_PAGER, IDC_MESSAGE_QUEUE, IDC_SAVE_SETTINGS})
                            Click(window, box);
                        Click(window, IDOK);
                    }),
              IDOK);
    EXPECT_EQ(hostdtest::ReadText("dftsys.ini"), Record("Sysa\r\nY YYY YY"));
    EXPECT_EQ(DeliveryModes.Pager + DeliveryModes.MessageQueue + DeliveryModes.Telephone, 1);
}

TEST(Dialogs, AboutClosesWithOk) {
    Process process("");
    CAboutDlg about(nullptr);
    EXPECT_EQ(Drive(about, L"About TAVO/400 Express", [](HWND window) { Click(window, IDOK); }),
              IDOK);
}
