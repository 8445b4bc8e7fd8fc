#include "ormelix/banner.h"

namespace {

const size_t BOX_INNER = 60;

std::string box_line(const std::string &inner)
{
    return "\n\t*" + inner + std::string(BOX_INNER - inner.size(), ' ') + "*";
}

std::string right_aligned(const std::string &text)
{
    return std::string(BOX_INNER - 2 - text.size(), ' ') + text + "  ";
}

} // namespace

std::string banner_text()
{
    const std::string border(62, '*');
    std::string text = "\n\n\t" + border;
    text += box_line("");
    text += box_line("                        ORMELIX");
    for (int i = 0; i < 4; i++)
        text += box_line("");
    text += box_line(right_aligned("Difference of two elevation models"));
    text += box_line(right_aligned("First version: December 2026"));
    text += box_line("");
    text += box_line("  Revision 1.0, 8 December 2026: checked answers and files");
    text += box_line("");
    text += "\n\t" + border;
    return text;
}
