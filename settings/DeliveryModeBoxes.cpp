#include "DeliveryModeBoxes.h"

#include <algorithm>

#include "MessagePresenter.h"
#include "ProcessState.h"
#include "Resource.h"
#include "SettingsFile.h"
#include "Strings.h"

const int kDeliveryModeBoxIds[kDeliveryModeBoxCount] = {
    IDC_PAGER,         IDC_EMAIL,     IDC_FAX,          IDC_NETWORK_MESSAGE,
    IDC_MESSAGE_QUEUE, IDC_TELEPHONE, IDC_SPOOLED_FILE, IDC_SAVE_SETTINGS};

namespace {

// The flag each box shows, in the order of kDeliveryModeBoxIds.
constexpr int DeliveryModeFlags::*kBoxFlags[kDeliveryModeBoxCount] = {
    &DeliveryModeFlags::Pager,        &DeliveryModeFlags::Email,
    &DeliveryModeFlags::Fax,          &DeliveryModeFlags::NetworkMessage,
    &DeliveryModeFlags::MessageQueue, &DeliveryModeFlags::Telephone,
    &DeliveryModeFlags::SpooledFile,  &DeliveryModeFlags::SaveSettings};

} // namespace

DeliveryModeBoxes CurrentDeliveryModeBoxes() {
    DeliveryModeBoxes ticked{};
    for (std::size_t i = 0; i < kDeliveryModeBoxCount; ++i)
        ticked[i] = DeliveryModes.*kBoxFlags[i] == 1;
    return ticked;
}

bool AcceptDeliveryModes(const DeliveryModeBoxes& ticked) {
    // Save settings is no mode: the host must be given at least one way to deliver.
    if (std::none_of(ticked.begin(), ticked.end() - 1, [](bool box) { return box; })) {
        ShowMessageBox(LoadString(IDS_SELECT_DELIVERY_MODE));
        return false;
    }
    for (std::size_t i = 0; i < kDeliveryModeBoxCount; ++i)
        DeliveryModes.*kBoxFlags[i] = ticked[i] ? 1 : 0;
    SaveDeliveryModes();
    return true;
}
