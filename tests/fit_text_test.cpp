#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "applet/fit_text.h"

typedef std::u16string Text;

// The text fitted to a field of `chars` units. The text is given in a block
// of exactly the units it has, with no terminator when it is longer than the
// field, so reading past what may be read trips the sanitizer; the field sits
// in a larger poisoned block, so writing past it shows.
static Text Fit(const Text& text, int chars)
{
    size_t given = text.size() < (size_t)chars ? text.size() + 1 : (size_t)chars;
    std::unique_ptr<WCHAR[]> source(new WCHAR[given]);
    for (size_t i = 0; i < given; i++)
        source[i] = i < text.size() ? text[i] : 0;
    Text field(chars + 8, u'\xdddd');
    FitText(source.get(), &field[0], chars);
    size_t end = field.find(u'\0');
    EXPECT_LT(end, (size_t)chars) << "not terminated within the field";
    EXPECT_EQ(Text(8, u'\xdddd'), field.substr(chars)) << "written past the field";
    return field.substr(0, end);
}

TEST(FitTextTest, CutsAtTheLastSentenceThenWordThatFits)
{
    const Text info = u"Pick from available USB functions to expose to a host device.  Also pick USB function mass "
                      u"stoarge drive to expose.";
    struct {
        Text text;
        int chars;
        Text fitted;
    } rows[] = {
        {info, 64, u"Pick from available USB functions to expose to a host device."},
        {u"USB Function Palvenor", 32, u"USB Function Palvenor"},
        {u"", 8, u""},
        // Seven units fill an 8-unit field; the eighth needs a cut.
        {u"abc def", 8, u"abc def"},
        {u"abc defg", 8, u"abc"},
        {u"abc de f", 8, u"abc de"},
        // A space in the last unit's place ends the word before it, and the sentence.
        {u"One two. Three", 9, u"One two."},
        {u"One! Two? Three", 12, u"One! Two?"},
        {u"One two. Three four", 16, u"One two."},
        {u"No stop here at all", 12, u"No stop"},
        // Spaces after a cut are not kept; a stop inside a word ends no sentence.
        {u"ab   cdefgh", 8, u"ab"},
        {u"v1.2 release notes", 12, u"v1.2"},
        // One word longer than the field: nothing rather than part of it.
        {u"Unbreakableword", 8, u""},
    };
    for (auto& row : rows)
        EXPECT_EQ(row.fitted, Fit(row.text, row.chars)) << "fitting to " << row.chars << " units";
}
