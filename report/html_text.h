#pragma once

#include <QString>

#include <initializer_list>

// The page's HTML and the SVG in it, built so that nothing from a journal
// can become markup: tag and attribute names and literal() markup are this
// program's own string literals, and every QString goes in as text or as an
// attribute value, escaped on the way in. There is no escape call to forget
// at each place a journal's value is shown (the values came from modules and
// operators: "<script>" or a quote that would end an attribute must show as
// written and never run or open an element).
class Markup
{
public:
    struct Attribute
    {
        const char *name;
        QString value;  // left out when empty
    };
    using Attributes = std::initializer_list<Attribute>;

    // <tag name="value"...>
    Markup &open(const char *tag, Attributes attributes = {});
    // </tag>
    Markup &close(const char *tag);
    // <tag name="value"...>text</tag>
    Markup &element(const char *tag, Attributes attributes, const QString &text);
    Markup &element(const char *tag, const QString &text) { return element(tag, {}, text); }
    // <tag name="value".../>: an HTML void element or an empty SVG one
    Markup &empty(const char *tag, Attributes attributes);
    Markup &text(const QString &text);
    Markup &add(const Markup &part);
    // Markup this program writes as it stands, such as the style sheet.
    template<size_t N>
    Markup &literal(const char (&markup)[N])
    {
        out_ += QString::fromUtf8(markup, int(N - 1));
        return *this;
    }

    const QString &html() const { return out_; }

private:
    void start_tag(const char *tag, Attributes attributes);

    QString out_;
};

// A number as people read it: 1 234 567 (narrow no-break spaces).
QString grouped(quint64 n);
// "83.3 %"
QString percent_text(quint64 part, quint64 whole);
