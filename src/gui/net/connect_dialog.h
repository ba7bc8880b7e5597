#pragma once

#include "store/settings.h"

#include <QDialog>

#include <initializer_list>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

namespace orvane {

class IpAddressEdit;

// "Connect to local site": how to reach the site (IP address or ID code), the login, image
// size, quality and ReLink. Reads the "Call" settings when built; writes them on Connect and
// on Apply.
class ConnectDialog : public QDialog {
    Q_OBJECT
  public:
    ConnectDialog(Settings& settings, QWidget* parent = nullptr);

    bool identifyMode() const;
    QString addressText() const;
    std::string idCode() const;

    IpAddressEdit* ipEdit() const { return ip_; }
    QLineEdit* userEdit() const { return user_; }
    QLineEdit* passwordEdit() const { return password_; }
    QLineEdit* idEdit() const { return id_; }
    QRadioButton* ipRadio() const { return ipRadio_; }
    QRadioButton* identifyRadio() const { return identifyRadio_; }
    QSlider* qualitySlider() const { return quality_; }
    QLabel* qualityText() const { return qualityText_; }
    QComboBox* sizeList() const { return size_; }
    QPushButton* siteBookButton() const { return siteBook_; }
    QPushButton* addDirectoryButton() const { return addDirectory_; }

    void accept() override;
    void Apply();
    // "Site book": the chosen entry's login and address fill the fields.
    void PickFromSiteBook();
    // "Add \ndirectory": after a question, the login and address typed here become an entry.
    void AddToSiteBook();

  private:
    // The first of fields whose text the code page cannot hold, after telling the operator;
    // nullptr when all can be sent.
    QLineEdit* RefuseUnsendable(std::initializer_list<QLineEdit*> fields);
    void UpdateEnabling();
    void ShowQuality();
    CallSettings ReadControls() const;

    Settings& settings_;
    QRadioButton* ipRadio_;
    QRadioButton* identifyRadio_;
    IpAddressEdit* ip_;
    QLineEdit* id_;
    QLineEdit* user_;
    QLineEdit* password_;
    QComboBox* size_;
    QSlider* quality_;
    QLabel* qualityText_;
    QCheckBox* reLink_;
    QCheckBox* save_;
    QPushButton* siteBook_;
    QPushButton* addDirectory_;
};

namespace connecttext {
inline constexpr const char* kInputUserName = "\n\n Please input user name! \n\n";
inline constexpr const char* kInputIpAddress = "\n\n Please input IP address. \n\n";
inline constexpr const char* kInputIdCode = "\n\n Please entry ID Code! \n\n";
inline constexpr const char* kAddToSiteBook = "\n\n Add to site book? \n\n";
inline constexpr const char* kRetryPrompt = "Can not connect to Local site ?";
inline constexpr const char* kWaitText = "Wait for connect ...";
}  // namespace connecttext

}  // namespace orvane
