#include "TemplateWidgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTreeWidget>

namespace {

QString Text(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QWidget* StandardControl(const ControlTemplate& control, QWidget* parent) {
    switch (control.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
    case ControlKind::OwnerDrawButton: {
        auto* button = new QPushButton(Text(control.text), parent);
        button->setDefault(control.kind == ControlKind::DefaultPushButton);
        return button;
    }
    case ControlKind::CheckBox:
        return new QCheckBox(Text(control.text), parent);
    case ControlKind::RadioButton:
        return new QRadioButton(Text(control.text), parent);
    case ControlKind::GroupBox:
        return new QGroupBox(Text(control.text), parent);
    case ControlKind::Static: {
        auto* label = new QLabel(Text(control.text), parent);
        label->setTextFormat(Qt::PlainText);
        return label;
    }
    case ControlKind::Icon: {
        auto* label = new QLabel(parent);
        label->setPixmap(QApplication::windowIcon().pixmap(32, 32));
        return label;
    }
    case ControlKind::DropDownList: {
        auto* combo = new QComboBox(parent);
        combo->setEditable(false);
        combo->setInsertPolicy(QComboBox::InsertAtBottom); // never sorted
        return combo;
    }
    case ControlKind::ReportList: {
        auto* list = new QTreeWidget(parent);
        list->setRootIsDecorated(false);
        list->setSortingEnabled(false);
        list->setUniformRowHeights(true);
        list->setSelectionMode((control.style & kMultiSelect) ? QAbstractItemView::ExtendedSelection
                                                              : QAbstractItemView::SingleSelection);
        list->header()->setStretchLastSection(false);
        return list;
    }
    case ControlKind::Edit:
        if (control.style & kMultiLine)
            return new QPlainTextEdit(parent);
        auto* edit = new QLineEdit(parent);
        if (control.style & kPassword)
            edit->setEchoMode(QLineEdit::Password);
        return edit;
    }
    return nullptr;
}

bool ShowsText(const ControlTemplate& control) {
    return !control.text.empty() &&
           (control.kind == ControlKind::Static || control.kind == ControlKind::CheckBox ||
            control.kind == ControlKind::RadioButton);
}

// The templates were measured in a Windows font, and the font here may run wider. A label
// or box grows to the right until its text fits; a frame then grows until what the
// template puts inside it clears its line and title, whose depth the style decides.
void FitToFont(const DialogTemplate& dialog, const std::vector<QRect>& planned,
               const std::vector<QWidget*>& widgets) {
    for (std::size_t i = 0; i < widgets.size(); ++i)
        if (ShowsText(dialog.controls[i]) && widgets[i]->sizeHint().width() > widgets[i]->width())
            widgets[i]->resize(widgets[i]->sizeHint().width(), widgets[i]->height());
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        auto* box = qobject_cast<QGroupBox*>(widgets[i]);
        if (!box)
            continue;
        box->ensurePolished();
        QRect frame = box->geometry();
        for (std::size_t j = 0; j < widgets.size(); ++j)
            if (j != i && planned[i].contains(planned[j]))
                frame |= widgets[j]->geometry().marginsAdded(box->contentsMargins());
        box->setGeometry(frame);
    }
}

} // namespace

DialogUnits ApplyDialogTemplate(QWidget* host, const DialogTemplate& dialog,
                                const ControlFactory& make) {
    const QFont font = DialogUnits::DialogFont(dialog.font, dialog.pointSize);
    host->setFont(font);
    const DialogUnits units(font);
    if (!dialog.childForm) {
        host->setWindowTitle(Text(dialog.caption));
        host->setFixedSize(units.Size(dialog.width, dialog.height));
        Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;
        if (dialog.contextHelpButton)
            flags |= Qt::WindowContextHelpButtonHint;
        host->setWindowFlags(flags);
    }
    QWidget* previousTabStop = nullptr;
    std::vector<QRect> planned;
    std::vector<QWidget*> widgets;
    for (const auto& control : dialog.controls) {
        QWidget* widget = make ? make(control, host) : nullptr;
        if (!widget)
            widget = StandardControl(control, host);
        widget->setProperty("controlId", control.id);
        widget->setProperty("helpId", control.helpId);
        widget->setObjectName(QStringLiteral("control%1").arg(control.id));
        widget->setFont(font);
        QRect rect = units.Rect(control.x, control.y, control.width, control.height);
        if (control.kind == ControlKind::DropDownList) // the height is that of the open list
            rect.setHeight(widget->sizeHint().height());
        widget->setGeometry(rect);
        planned.push_back(rect);
        widgets.push_back(widget);
        if (control.kind == ControlKind::GroupBox) {
            widget->setFocusPolicy(Qt::NoFocus);
            widget->lower(); // a frame only: it must not cover the controls it frames
        } else if (control.kind == ControlKind::Static || control.kind == ControlKind::Icon) {
            widget->setFocusPolicy(Qt::NoFocus);
        } else if (control.style & kTabStop) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop)
                QWidget::setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        } else {
            widget->setFocusPolicy(Qt::ClickFocus);
        }
        widget->show();
    }
    FitToFont(dialog, planned, widgets);
    if (!dialog.childForm) { // a form's size is its host's to keep
        const QRect used = host->childrenRect();
        host->setFixedSize(host->size().expandedTo(
            QSize(used.right() + 1 + units.X(4), used.bottom() + 1 + units.Y(4))));
    }
    return units;
}

QWidget* FindControl(const QWidget* host, int controlId) {
    for (auto* child : host->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->property("controlId").isValid() &&
            child->property("controlId").toInt() == controlId)
            return child;
    return nullptr;
}

int ControlId(const QWidget* widget) {
    const auto id = widget ? widget->property("controlId") : QVariant();
    return id.isValid() ? id.toInt() : 0;
}

quint32 HelpId(const QWidget* widget) {
    const auto id = widget ? widget->property("helpId") : QVariant();
    return id.isValid() ? id.toUInt() : 0;
}
