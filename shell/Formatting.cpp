#include "shell/Formatting.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>

#include "engine/DecimalText.h"
#include "engine/TextRules.h"

namespace vorel {

QString money(double dollars) {
    if (dollars > 0 && dollars < 0.01) return QStringLiteral("<$0.01");
    std::string digits = fixedDecimal(dollars, 2);
    return QStringLiteral("$") + QString::fromStdString(digits);
}

QString compactTokens(long long count) {
    double c = static_cast<double>(count);
    if (count >= 1000000) return QString::fromStdString(fixedDecimal(c / 1000000.0, 1)) + "M";
    if (count < 1000) return QString::number(count);
    return QString::fromStdString(fixedDecimal(c / 1000.0, 0)) + "k";
}

QString shortStamp(TimePoint t) {
    auto ms = t.time_since_epoch().count();
    QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
    // The default locale is the user's (the system locale) unless the
    // program sets another, which only the tests do.
    // "Ap" is the locale's own AM/PM marker, in its own case ("PM", "pm").
    return QLocale().toString(local, QStringLiteral("MMM d, h:mm Ap"));
}

QString relativeTime(TimePoint t, TimePoint now) {
    double s = std::chrono::duration<double>(now - t).count();
    if (s < 45) return QStringLiteral("just now");
    if (s < 3600) return QString::number(static_cast<long long>(s / 60)) + "m ago";
    if (s < 86400) return QString::number(static_cast<long long>(s / 3600)) + "h ago";
    return QString::number(static_cast<long long>(s / 86400)) + "d ago";
}

QString relativeTime(TimePoint t) { return relativeTime(t, clock().now()); }

QString isolated(std::string_view piece) { return QString::fromStdString(text::isolated(piece)); }

QString isolated(const QString& piece) { return isolated(piece.toStdString()); }

QString qs(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

QString trimSpacesAndTabs(const QString& s) {
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    qsizetype b = 0, e = s.size();
    while (b < e && blank(s[b])) ++b;
    while (e > b && blank(s[e - 1])) --e;
    return s.mid(b, e - b);
}

}  // namespace vorel
