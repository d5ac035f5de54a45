#pragma once

#include <QWidget>
#include <functional>

#include "DialogTemplates.h"
#include "DialogUnits.h"

// Builds a template's controls as children of `host`, placed and sized in pixels, in
// template order (which is tab order). Every control carries its id and help id as
// the properties "controlId" and "helpId".
using ControlFactory = std::function<QWidget*(const ControlTemplate& control, QWidget* parent)>;

// `make` may supply the widget for a control (an edit class of the caller's, say);
// returning null falls back to the standard widget for its kind.
DialogUnits ApplyDialogTemplate(QWidget* host, const DialogTemplate& dialog,
                                const ControlFactory& make = {});

// The first control with that id, in template order; null when there is none.
QWidget* FindControl(const QWidget* host, int controlId);
template <class T> T* Control(const QWidget* host, int controlId) {
    return qobject_cast<T*>(FindControl(host, controlId));
}

int ControlId(const QWidget* widget);  // 0 when the widget is no template control
quint32 HelpId(const QWidget* widget); // 0 when it has none
