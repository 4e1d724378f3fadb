#include "DialRegistration.h"

namespace sim {
namespace {

// Adds n to the number written in digits of base (most significant first, each a digit's value),
// keeping the width; a carry beyond it widens the number.
void AddTo(QByteArray& digits, int base, long long n) {
    for (qsizetype at = digits.size() - 1; n > 0; --at) {
        if (at < 0) {
            digits.prepend('\0');
            at = 0;
        }
        const long long sum = static_cast<unsigned char>(digits[at]) + n;
        digits[at] = static_cast<char>(sum % base);
        n = sum / base;
    }
}

} // namespace

std::optional<Registration> ParseRegistration(const QString& text) {
    if (!text.startsWith(QStringLiteral("hex:"))) {
        if (text.isEmpty())
            return std::nullopt;
        return Registration{text.toUtf8(), false};
    }
    const QByteArray digits = text.mid(4).toLatin1();
    const QByteArray bytes = QByteArray::fromHex(digits);
    if (digits.isEmpty() || digits.size() % 2 != 0 || bytes.toHex().toUpper() != digits.toUpper())
        return std::nullopt;
    return Registration{bytes, true};
}

Registration NumberedRegistration(const Registration& first, int i) {
    Registration out = first;
    if (i == 0)
        return out;
    if (first.hex) {
        AddTo(out.bytes, 256, i);
        return out;
    }
    qsizetype start = out.bytes.size();
    while (start > 0 && out.bytes[start - 1] >= '0' && out.bytes[start - 1] <= '9')
        --start;
    if (start == out.bytes.size()) {
        out.bytes += QByteArray::number(i);
        return out;
    }
    QByteArray digits = out.bytes.mid(start);
    for (char& d : digits)
        d = static_cast<char>(d - '0');
    AddTo(digits, 10, i);
    for (char& d : digits)
        d = static_cast<char>(d + '0');
    out.bytes = out.bytes.left(start) + digits;
    return out;
}

QString RegistrationText(const Registration& registration) {
    if (registration.hex)
        return QStringLiteral("hex:") + QString::fromLatin1(registration.bytes.toHex().toUpper());
    return QString::fromUtf8(registration.bytes);
}

} // namespace sim
