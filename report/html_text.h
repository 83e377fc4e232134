#pragma once

#include <QString>

// Text from a journal in HTML or SVG, as text and nothing else: the values
// came from modules and operators, so "<script>" or a quote that would end
// an attribute must show as written and never run or open an element.
// Safe in element content and in quoted attribute values alike.
QString html_escaped(const QString &text);

// A number as people read it: 1 234 567 (narrow no-break spaces).
QString grouped(quint64 n);
// "83.3 %"
QString percent_text(quint64 part, quint64 whole);
