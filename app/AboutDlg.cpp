#include "AboutDlg.h"

#include <QPushButton>

#include "Resource.h"
#include "TemplateWidgets.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    ApplyDialogTemplate(this, *FindDialogTemplate(IDD_ABOUTBOX));
    connect(Control<QPushButton>(this, IDOK), &QPushButton::clicked, this, &QDialog::accept);
}
