#pragma once

#include <QDialog>

#include "ContextHelp.h"
#include <string>
#include <vector>

#include "ListItem.h"

class QTreeWidget;

// Dialog 132: the recipient or group list fetched from the host as it opens; OK hands
// back the names of the selected rows, in row order.
class CBrowseOptionsDlg : public QDialog, public IHelpHitTest {
    Q_OBJECT
  public:
    explicit CBrowseOptionsDlg(QWidget* parent = nullptr);

    std::string m_strListType;              // "*RCPL" or "*GRPL", blank-padded or not
    std::vector<std::string> m_arrSelected; // after OK
    QTreeWidget* List() const { return m_listCtrl; }
    const std::vector<ListItem>& Entries() const { return m_arrEntries; }

    // Asked for the help context of a point, the dialog asks its parent window.
    quint32 HelpHitTest(const QPoint& clientPoint) const override;

  public slots:
    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void OnInitDialog();

    QTreeWidget* m_listCtrl = nullptr;
    std::vector<ListItem> m_arrEntries;
    bool initialised_ = false;
};
