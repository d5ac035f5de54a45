#include "StatusBar.h"

#include <QLabel>
#include <QWhatsThis>

#include "Menus.h"
#include "Resource.h"
#include "Strings.h"

namespace {

QString Text(unsigned id) {
    const auto text = LoadString(id);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CStatusBar::CStatusBar(QWidget* parent) : QStatusBar(parent) {
    setProperty("controlId", ID_VIEW_STATUS_BAR);
    for (int id : StatusIndicators()) {
        auto* indicator = new QLabel(Text(static_cast<unsigned>(id)), this);
        indicator->setProperty("controlId", id);
        indicator->setFrameShape(QFrame::Panel);
        indicator->setFrameShadow(QFrame::Sunken);
        indicator->setAlignment(Qt::AlignCenter);
        // the pane keeps its width while its text is blank
        indicator->setMinimumWidth(indicator->sizeHint().width() + 8);
        addPermanentWidget(indicator);
        indicators_ << indicator;
    }
    const QString idle = Text(IDS_IDLE_MESSAGE);
    showMessage(idle);
    connect(this, &QStatusBar::messageChanged, this, [this, idle](const QString& message) {
        if (message.isEmpty() && !QWhatsThis::inWhatsThisMode())
            showMessage(idle);
    });
    SetKeyIndicators(CreatePlatformKeyIndicators(this));
}

void CStatusBar::SetKeyIndicators(IKeyIndicators* keys) {
    disconnect(keysChanged_);
    keys_ = keys;
    if (keys_)
        keysChanged_ = connect(keys_, &IKeyIndicators::Changed, this, &CStatusBar::ShowKeyState);
    ShowKeyState();
}

QLabel* CStatusBar::Indicator(int id) const {
    for (auto* indicator : indicators_)
        if (indicator->property("controlId").toInt() == id)
            return indicator;
    return nullptr;
}

void CStatusBar::ShowKeyState() {
    const auto state = keys_ ? keys_->State() : std::nullopt;
    const bool on[] = {state && state->caps, state && state->num, state && state->scroll};
    for (int i = 0; i < 3; ++i) {
        indicators_[i]->setEnabled(state.has_value());
        const auto text = IndicatorText(StatusIndicators()[i], !state || on[i]);
        indicators_[i]->setText(
            QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    }
}
