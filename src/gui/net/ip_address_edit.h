#pragma once

#include <QWidget>

#include <array>
#include <cstdint>

class QKeyEvent;
class QLineEdit;

namespace orvane {

// Four octet fields, as the system's IP address control: the value is a 32-bit number with
// the first octet most significant, "empty" while all four fields are blank. Keys work as
// operators know them from that control: a dot or a space moves on to the next field, the
// third digit does so by itself, the arrows and Backspace cross from field to field, and a
// whole dotted address pasted into any field fills all four.
class IpAddressEdit : public QWidget {
    Q_OBJECT
  public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    std::uint32_t value() const;
    void setValue(std::uint32_t address);
    bool isBlank() const;
    QString text() const;  // dotted, blank fields as 0
    void clear();
    QLineEdit* field(int index) const { return fields_[static_cast<std::size_t>(index)]; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    enum class Caret { Start, End, SelectAll };

    int IndexOf(const QObject* watched) const;
    bool HandleKey(int index, const QKeyEvent& key);
    void TypeDigits(int index, const QString& digits);
    void MoveTo(int from, int to, Caret caret);
    void Settle(int index);
    bool PasteAddress(const QString& text);

    std::array<QLineEdit*, 4> fields_{};
    // The field the third digit of an octet moved on to, until the next key: a dot typed
    // there is the one that octet was going to end with anyway.
    int advancedTo_ = -1;
};

}  // namespace orvane
