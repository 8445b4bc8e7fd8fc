#include "treatment/difference_kinds.h"

const difference_kind DIFFERENCE_KINDS[DIFFERENCE_KIND_COUNT] = {
    {"absolute values", "absolute", "_val_abs"},
    {"negative values", "negative", "_val_neg"},
    {"positive values", "positive", "_val_pos"},
    {"signed values", "signed", "_val_sgn"},
};

namespace {

bool is_kind(int32_t type_treat) { return type_treat >= 0 && type_treat < DIFFERENCE_KIND_COUNT; }

} // namespace

const char *difference_kind_name(int32_t type_treat)
{
    return is_kind(type_treat) ? DIFFERENCE_KINDS[type_treat].name : "";
}

const char *difference_kind_suffix(int32_t type_treat)
{
    return is_kind(type_treat) ? DIFFERENCE_KINDS[type_treat].suffix : "";
}

bool difference_kind_of_word(const std::string &word, int32_t *type_treat)
{
    for (int32_t k = 0; k < DIFFERENCE_KIND_COUNT; k++)
        if (word == DIFFERENCE_KINDS[k].word) {
            *type_treat = k;
            return true;
        }
    return false;
}
