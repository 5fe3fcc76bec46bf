#include "pipeline/data_view_items.h"

#include "packet/number_parse.h"

#include <optional>

namespace {

struct StyleTag {
  char letter; // upper case
  bool TTextAttributes::*style;
};

constexpr StyleTag kStyleTags[] = {
    {'B', &TTextAttributes::Bold},
    {'I', &TTextAttributes::Italic},
    {'U', &TTextAttributes::Underline},
};

constexpr uint32_t kMaxColour = 0xFFFFFF;

// Tags come from plug-ins written for an ANSI program: only ASCII letters fold.
char upperAscii(char c) {
  return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// "<x>" with x any case of `letter`.
bool isTagStart(std::string_view item, char letter) {
  return item.size() >= 3 && item[0] == '<' && upperAscii(item[1]) == letter && item[2] == '>';
}

const StyleTag *findStyleTag(std::string_view item) {
  if (item.size() != 3)
    return nullptr;
  for (const StyleTag &tag : kStyleTags)
    if (isTagStart(item, tag.letter))
      return &tag;
  return nullptr;
}

} // namespace

bool ApplyItem(std::string_view item, TTextAttributes &attributes) {
  if (const StyleTag *tag = findStyleTag(item)) {
    attributes.*(tag->style) = true;
    return false;
  }
  if (isTagStart(item, 'C')) {
    const std::optional<int32_t> colour = StrictInteger(item.substr(3));
    if (colour && *colour >= 0 && uint32_t(*colour) <= kMaxColour)
      attributes.Colour = uint32_t(*colour);
    return false;
  }
  return true;
}
