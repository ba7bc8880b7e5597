#pragma once

#include <QWidget>

#include <array>
#include <cstdint>

class QLineEdit;

namespace orvane {

// Four octet fields, as the system's IP address control: the value is a 32-bit number with
// the first octet most significant, "empty" while all four fields are blank.
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

  private:
    std::array<QLineEdit*, 4> fields_{};
};

}  // namespace orvane
