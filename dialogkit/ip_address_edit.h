#pragma once
// The four-octet IPv4 address field: each octet 0..255, a dot moves to the next octet (three
// digits do too), an empty octet reads as 0. Tab leaves the whole field; inside it the dot and
// the arrow keys move.

#include <QFrame>
#include <QString>

#include <array>
#include <cstdint>

class QLineEdit;

namespace orv {

using Octets = std::array<std::uint8_t, 4>;

class IpAddressEdit : public QFrame
{
    Q_OBJECT
public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    Octets address() const;
    void setAddress(const Octets& octets);
    void clear();
    // True when every octet is empty.
    bool isBlank() const;
    // "%d.%d.%d.%d", first octet first.
    QString text() const;
    QLineEdit* field(int index) const { return fields_[static_cast<std::size_t>(index)]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int indexOf(QObject* field) const;
    void focusField(int index, bool selectAll);
    void onEdited(int index);

    std::array<QLineEdit*, 4> fields_{};
};

} // namespace orv
