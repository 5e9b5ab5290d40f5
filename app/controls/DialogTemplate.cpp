#include "app/controls/DialogTemplate.h"

namespace {

constexpr uint32_t kDsSetFont = 0x40;

class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  bool U16(uint16_t* v) {
    if (pos_ + 2 > n_) return false;
    *v = static_cast<uint16_t>(p_[pos_] | (p_[pos_ + 1] << 8));
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t* v) {
    uint16_t lo, hi;
    if (!U16(&lo) || !U16(&hi)) return false;
    *v = lo | (static_cast<uint32_t>(hi) << 16);
    return true;
  }
  bool I16(int16_t* v) {
    uint16_t u;
    if (!U16(&u)) return false;
    *v = static_cast<int16_t>(u);
    return true;
  }
  bool U8(uint8_t* v) {
    if (pos_ + 1 > n_) return false;
    *v = p_[pos_++];
    return true;
  }
  // A field that is 0 (none), 0xFFFF and an ordinal, or a NUL-terminated
  // UTF-16 string. *present tells whether it named something.
  bool SzOrOrd(bool* present, std::wstring* text = nullptr) {
    uint16_t first;
    if (!U16(&first)) return false;
    if (first == 0) {
      *present = false;
      return true;
    }
    *present = true;
    if (first == 0xFFFF) {
      uint16_t ord;
      return U16(&ord);
    }
    return RestOfString(first, text);
  }
  bool String(std::wstring* text) {
    uint16_t first;
    if (!U16(&first)) return false;
    if (first == 0) return true;
    return RestOfString(first, text);
  }
  bool Skip(size_t n) {
    if (n > n_ - pos_) return false;
    pos_ += n;
    return true;
  }
  bool AlignDword() {
    size_t aligned = (pos_ + 3) & ~static_cast<size_t>(3);
    if (aligned > n_) return false;
    pos_ = aligned;
    return true;
  }

 private:
  bool RestOfString(uint16_t c, std::wstring* text) {
    for (;;) {
      if (text) text->push_back(static_cast<wchar_t>(c));
      if (!U16(&c)) return false;
      if (c == 0) return true;
    }
  }

  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
};

}  // namespace

bool ParseDialogTemplate(const void* data, size_t size, DialogTemplateInfo* info) {
  *info = DialogTemplateInfo();
  if (!data) return false;
  Reader r(static_cast<const uint8_t*>(data), size);
  uint16_t count = 0;
  uint16_t version = 0, signature = 0;
  {
    Reader peek(static_cast<const uint8_t*>(data), size);
    if (!peek.U16(&version) || !peek.U16(&signature)) return false;
  }
  info->extended = version == 1 && signature == 0xFFFF;
  if (info->extended) {
    uint32_t helpId;
    if (!r.Skip(4) || !r.U32(&helpId) || !r.U32(&info->exStyle) || !r.U32(&info->style)) return false;
  } else {
    if (!r.U32(&info->style) || !r.U32(&info->exStyle)) return false;
  }
  if (!r.U16(&count) || !r.I16(&info->x) || !r.I16(&info->y) || !r.I16(&info->cx) || !r.I16(&info->cy))
    return false;
  bool present;
  if (!r.SzOrOrd(&info->hasMenu)) return false;
  if (!r.SzOrOrd(&present)) return false;  // window class
  std::wstring title;
  if (!r.String(&title)) return false;
  info->hasFont = (info->style & kDsSetFont) != 0;
  if (info->hasFont) {
    int16_t points;
    if (!r.I16(&points)) return false;
    info->pointSize = points < 0 ? -points : points;
    if (info->extended) {
      uint16_t weight;
      uint8_t italic, charset;
      if (!r.U16(&weight) || !r.U8(&italic) || !r.U8(&charset)) return false;
      info->weight = weight;
      info->italic = italic != 0;
    }
    if (!r.String(&info->face)) return false;
  }
  for (uint16_t i = 0; i < count; ++i) {
    DialogTemplateItem item;
    if (!r.AlignDword()) break;
    if (info->extended) {
      uint32_t helpId, exStyle, style;
      if (!r.U32(&helpId) || !r.U32(&exStyle) || !r.U32(&style)) break;
    } else {
      uint32_t style, exStyle;
      if (!r.U32(&style) || !r.U32(&exStyle)) break;
    }
    if (!r.I16(&item.x) || !r.I16(&item.y) || !r.I16(&item.cx) || !r.I16(&item.cy)) break;
    if (info->extended) {
      if (!r.U32(&item.id)) break;
    } else {
      uint16_t id16;
      if (!r.U16(&id16)) break;
      item.id = id16;
    }
    uint16_t extra;
    if (!r.SzOrOrd(&present) || !r.SzOrOrd(&present) || !r.U16(&extra) || !r.Skip(extra)) break;
    info->items.push_back(item);
  }
  return true;
}
