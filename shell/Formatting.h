#pragma once
// The short texts every screen shows for amounts, token counts and times.
// Numbers never depend on the process locale (a German desktop still shows
// $3.27); dates follow the user's locale and time zone.

#include <QString>
#include <string_view>

#include "engine/Clock.h"

namespace vorel {

// "$" and two decimals, or "<$0.01" for a positive amount under a cent.
QString money(double dollars);
// 912, 845k or 12.3M.
QString compactTokens(long long count);
// "MMM d, h:mm a" in the user's locale and time zone.
QString shortStamp(TimePoint t);
// "just now", "5m ago", "3h ago" or "12d ago", against `now`.
QString relativeTime(TimePoint t, TimePoint now);
QString relativeTime(TimePoint t);

// Text from a transcript, a file name or the user, made one directional
// unit for a line that joins it with other text (see text::isolated), so
// that its right-to-left letters or direction marks cannot reorder the
// rest of the line. A label that shows such text alone needs none of this.
QString isolated(std::string_view piece);
QString isolated(const QString& piece);

// Text held by the engine (UTF-8) as a Qt string.
QString qs(std::string_view utf8);

// `s` without spaces and tabs at either end; line breaks stay, since a
// typed name or query may hold them on purpose.
QString trimSpacesAndTabs(const QString& s);

}  // namespace vorel
