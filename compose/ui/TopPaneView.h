#pragma once

#include <QScrollArea>
#include <functional>
#include <string>
#include <vector>

class CExtEdit;
class CBitmapButton;
class QRadioButton;

// The upper pane: To:, the To button that opens the picker, Recipients/Groups and
// Subject:, laid out by form 131. The form keeps its size; the pane scrolls when it is
// smaller than the form.
class CTopPaneView : public QScrollArea {
    Q_OBJECT
  public:
    explicit CTopPaneView(QWidget* parent = nullptr);
    ~CTopPaneView() override;

    // Registers the fields, sets their limits, chooses the start-up system and checks
    // Recipients.
    void OnInitialUpdate();

    // Runs the picker for a list type and returns its result (QDialog::Accepted on OK)
    // with the names picked. The frame gives the pane its picker; without one the To
    // button does nothing.
    using Picker =
        std::function<int(const std::string& listType, std::vector<std::string>& picked)>;
    void SetPicker(Picker picker);

    QWidget* Form() const { return form_; }
    CExtEdit* To() const { return m_editTo; }
    CExtEdit* Subject() const { return m_editSubject; }
    QRadioButton* Recipients() const { return m_radioRecipients; }
    QRadioButton* Groups() const;
    CBitmapButton* ToButton() const { return m_btnTo; }

  public slots:
    void OnToButton();

  private:
    QWidget* form_ = nullptr;
    QRadioButton* m_radioRecipients = nullptr;
    CBitmapButton* m_btnTo = nullptr;
    CExtEdit* m_editTo = nullptr;
    CExtEdit* m_editSubject = nullptr;
    Picker picker_;
};

// The Recipients radio button, read by the Send command; null until the pane exists.
extern QRadioButton* RecipientsRadio;
