// Decimal texts in the locale's way, built digit by digit from the exact value.
#include "ui/number_text.h"

namespace ui {

QString decimalText(const foundation::Decimal& value, int places, const QLocale& locale)
{
    const std::string canonical = value.rounded(places).toString();
    const bool negative = !canonical.empty() && canonical.front() == '-';
    const std::string unsignedText = negative ? canonical.substr(1) : canonical;
    const std::size_t point = unsignedText.find('.');
    const QString integerDigits = QString::fromStdString(unsignedText.substr(0, point));
    QString fraction = point == std::string::npos ? QString() : QString::fromStdString(unsignedText.substr(point + 1));
    fraction = fraction.leftJustified(places, QLatin1Char('0'), true);

    QString grouped;
    const bool groups = !(locale.numberOptions() & QLocale::OmitGroupSeparator);
    for (qsizetype i = 0; i < integerDigits.size(); ++i) {
        if (groups && i > 0 && (integerDigits.size() - i) % 3 == 0)
            grouped += locale.groupSeparator();
        grouped += integerDigits[i];
    }
    QString text = negative ? locale.negativeSign() + grouped : grouped;
    if (places > 0)
        text += locale.decimalPoint() + fraction;
    return text;
}

std::optional<foundation::Decimal> parseDecimal(const QString& input, const QLocale& locale)
{
    const QString text = input.trimmed();
    bool ok = false;
    (void)locale.toDouble(text, &ok); // checks the locale's separators and grouping
    if (!ok || text.contains(locale.exponential(), Qt::CaseInsensitive))
        return std::nullopt;
    QString canonical = text;
    canonical.remove(locale.groupSeparator());
    canonical.replace(locale.decimalPoint(), QStringLiteral("."));
    canonical.replace(locale.negativeSign(), QStringLiteral("-"));
    canonical.replace(locale.positiveSign(), QStringLiteral("+"));
    return foundation::Decimal::parse(canonical.toStdString());
}

} // namespace ui
