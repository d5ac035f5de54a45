#pragma once

#include <array>
#include <cstddef>

// The Delivery modes dialog's decisions: which box shows which flag, which boxes start
// ticked, and what OK does.

// The boxes, as control ids, in the order of the flags they show: Pager, Email, Fax,
// NetworkMessage, MessageQueue, Telephone, SpooledFile, SaveSettings. Boxes map to flags
// by this table, never by their position on the dialog.
inline constexpr std::size_t kDeliveryModeBoxCount = 8;
extern const int kDeliveryModeBoxIds[kDeliveryModeBoxCount];
using DeliveryModeBoxes = std::array<bool, kDeliveryModeBoxCount>;

// Which boxes the dialog opens with ticked: the current DeliveryModes.
DeliveryModeBoxes CurrentDeliveryModeBoxes();

// OK in the dialog: without a single mode ticked the refusal is shown and false returned
// (the dialog stays); else the boxes become DeliveryModes, are saved, and true is returned.
bool AcceptDeliveryModes(const DeliveryModeBoxes& ticked);
