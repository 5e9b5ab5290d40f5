#include "app/controls/TextRun.h"

#include <algorithm>
#include <memory>

void TextRunBlock::Reset() {
  inUse = false;
  text.clear();
  boxes.clear();
  runs.clear();
  focusedRun = -1;
  overflowIndex = 0;
}

namespace kit {

namespace {

bool AtOrigin(const Gdiplus::RectF& r) { return r.X == 0.0f && r.Y == 0.0f; }

bool Contains(const Gdiplus::RectF& r, POINT pt) {
  float x = static_cast<float>(pt.x), y = static_cast<float>(pt.y);
  return r.X <= x && x < r.X + r.Width && r.Y <= y && y < r.Y + r.Height;
}

}  // namespace

void MeasureCharacterBoxes(Gdiplus::Graphics& g, const std::wstring& text, const Gdiplus::Font& font,
                           const Gdiplus::RectF& layout, const Gdiplus::StringFormat& format,
                           std::vector<Gdiplus::RectF>* boxes) {
  const int length = static_cast<int>(text.size());
  std::unique_ptr<Gdiplus::StringFormat> fmt(format.Clone());
  if (!fmt) return;
  for (int start = 0; start < length; start += kMaxRangesPerMeasure) {
    const int n = std::min(kMaxRangesPerMeasure, length - start);
    Gdiplus::CharacterRange ranges[kMaxRangesPerMeasure];
    for (int i = 0; i < n; ++i) ranges[i] = Gdiplus::CharacterRange(start + i, 1);
    fmt->SetMeasurableCharacterRanges(n, ranges);
    Gdiplus::Region regions[kMaxRangesPerMeasure];
    Gdiplus::Status s =
        g.MeasureCharacterRanges(text.c_str(), length, &font, layout, fmt.get(), n, regions);
    for (int i = 0; i < n; ++i) {
      Gdiplus::RectF box(0, 0, 0, 0);
      if (s == Gdiplus::Ok) regions[i].GetBounds(&box, &g);
      boxes->push_back(box);
    }
  }
}

void LayoutRuns(TextRunBlock* block, float clientBottom, bool centredLines) {
  const std::vector<Gdiplus::RectF>& boxes = block->boxes;
  const int total = static_cast<int>(boxes.size());
  block->overflowIndex = 0;
  int index = 0;  // character index in the whole text
  for (size_t r = 0; r < block->runs.size(); ++r) {
    TextRun& run = block->runs[r];
    run.hitRects.clear();
    run.lineRects.clear();
    const bool active = run.IsActive();
    bool lineOpen = false;
    LONG x0 = 0;
    float top = 0, widthSum = 0, height = 0;
    for (size_t c = 0; c < run.text.size() && index < total; ++c, ++index) {
      const Gdiplus::RectF& box = boxes[index];
      run.hitRects.push_back(box);
      if (active) {
        if (lineOpen && box.Y == top) {
          widthSum += box.Width;
          height = std::max(height, box.Height);
        } else {
          if (lineOpen)
            run.lineRects.push_back({x0 - 1, static_cast<LONG>(top),
                                     x0 + static_cast<LONG>(widthSum),
                                     static_cast<LONG>(top) + static_cast<LONG>(height)});
          lineOpen = true;
          x0 = static_cast<LONG>(box.X);
          top = box.Y;
          widthSum = box.Width;
          height = box.Height;
        }
      }
      if (block->overflowIndex == 0 && index >= 1) {
        if (centredLines) {
          if (AtOrigin(box) && AtOrigin(boxes[index - 1])) block->overflowIndex = std::max(index - 2, 0);
        } else if (box.Y + box.Height > clientBottom) {
          block->overflowIndex = index - 1;
        }
      }
    }
    if (lineOpen) {
      // The last line reaches 4 pixels further: the cursor turns into the
      // hand a little past the link's end (clicks there open nothing).
      run.lineRects.push_back({x0, static_cast<LONG>(top), x0 + static_cast<LONG>(widthSum) + 4,
                               static_cast<LONG>(top) + static_cast<LONG>(height)});
      if (block->focusedRun == -1) block->focusedRun = static_cast<int>(r);
    }
  }
}

int EllipsisAnchor(const TextRunBlock& block, int clientWidth) {
  if (block.overflowIndex <= 0) return -1;
  for (int i = std::min<int>(block.overflowIndex, static_cast<int>(block.boxes.size()) - 1); i >= 0; --i) {
    const Gdiplus::RectF& b = block.boxes[i];
    if (!AtOrigin(b) && b.X + b.Width + kEllipsisWidth <= static_cast<float>(clientWidth)) return i;
  }
  return -1;
}

std::vector<UnderlineSegment> UnderlineSegments(const TextRunBlock& block, int first, int last,
                                                float fontHeight, bool farAligned) {
  std::vector<UnderlineSegment> out;
  bool open = false;
  float top = 0, x0 = 0, x1 = 0;
  auto close = [&] {
    if (!open) return;
    if (farAligned)
      out.push_back({x0 - 2, x1 - 1, top + fontHeight});
    else
      out.push_back({x0 + 1, x1 + 2, top + fontHeight});
    open = false;
  };
  for (int i = first; i <= last && i < static_cast<int>(block.boxes.size()); ++i) {
    const Gdiplus::RectF& b = block.boxes[i];
    if (b.Width <= 0 || b.Height <= 0) continue;  // did not fit: no line under it
    if (open && b.Y != top) close();
    if (!open) {
      open = true;
      top = b.Y;
      x0 = b.X;
    }
    x1 = b.X + b.Width;
  }
  close();
  return out;
}

std::wstring HitTestLink(const TextRunBlock& block, POINT pt) {
  for (const TextRun& run : block.runs) {
    if (run.target.empty()) continue;
    for (const Gdiplus::RectF& r : run.hitRects)
      if (Contains(r, pt)) return run.target;
  }
  return L"";
}

int HitTestCommand(const TextRunBlock& block, POINT pt) {
  for (const TextRun& run : block.runs) {
    if (!run.command) continue;
    for (const Gdiplus::RectF& r : run.hitRects)
      if (Contains(r, pt)) return run.commandId;
  }
  return 0;
}

bool InLinkLine(const TextRunBlock& block, POINT pt) {
  for (const TextRun& run : block.runs) {
    if (!run.IsActive()) continue;
    for (const RECT& r : run.lineRects)
      if (r.left <= pt.x && pt.x < r.right && r.top <= pt.y && pt.y < r.bottom) return true;
  }
  return false;
}

void DrawRuns(Gdiplus::Graphics& g, const TextRunBlock& block, const Gdiplus::Font& font,
              const Gdiplus::StringFormat& format, int clientWidth, float dx, float dy) {
  // Each character is drawn on its own at its measured box. The box already
  // holds the alignment and GDI+'s leading padding, so the characters are
  // drawn near-aligned, unwrapped and one padding to the left; a layout as
  // narrow as the box would make GDI+ wrap the character away.
  std::unique_ptr<Gdiplus::StringFormat> fmt(format.Clone());
  if (!fmt) return;
  fmt->SetFormatFlags(Gdiplus::StringFormatFlagsNoClip | Gdiplus::StringFormatFlagsDisplayFormatControl |
                      Gdiplus::StringFormatFlagsNoFitBlackBox | Gdiplus::StringFormatFlagsNoWrap);
  fmt->SetAlignment(Gdiplus::StringAlignmentNear);
  fmt->SetLineAlignment(Gdiplus::StringAlignmentNear);
  float pad = 0;
  {
    std::vector<Gdiplus::RectF> probe;
    MeasureCharacterBoxes(g, L"x", font, Gdiplus::RectF(0, 0, 1000, 1000), *fmt, &probe);
    if (!probe.empty()) pad = probe[0].X;
  }
  const float wide = 4.0f * font.GetHeight(&g) + 20.0f;
  auto cell = [&](const Gdiplus::RectF& b, float width) {
    return Gdiplus::RectF(b.X - pad + dx, b.Y + dy, width, b.Height > 0 ? b.Height : font.GetHeight(&g));
  };

  const int total = static_cast<int>(std::min(block.boxes.size(), block.text.size()));
  int lastDrawn = total - 1;
  int anchor = -1;
  if (block.overflowIndex > 0) {
    anchor = EllipsisAnchor(block, clientWidth);
    lastDrawn = anchor >= 0 ? anchor : std::min(block.overflowIndex, total) - 1;
  }
  const float fontHeight = font.GetHeight(&g);
  const bool farAligned = format.GetAlignment() == Gdiplus::StringAlignmentFar;
  int index = 0;
  for (const TextRun& run : block.runs) {
    if (index > lastDrawn) break;
    const int first = index;
    Gdiplus::SolidBrush brush{Gdiplus::Color(run.colour)};
    for (size_t c = 0; c < run.text.size() && index <= lastDrawn; ++c, ++index) {
      const Gdiplus::RectF& b = block.boxes[index];
      if (b.Width <= 0 && b.X == 0 && b.Y == 0) continue;  // did not fit the layout
      g.DrawString(&block.text[index], 1, &font, cell(b, wide), fmt.get(), &brush);
    }
    if (run.link && run.IsActive() && index > first) {
      Gdiplus::Pen pen{Gdiplus::Color(run.colour), 1.0f};
      for (const UnderlineSegment& s : UnderlineSegments(block, first, index - 1, fontHeight, farAligned))
        g.DrawLine(&pen, s.x0 + dx, s.y + dy, s.x1 + dx, s.y + dy);
    }
    index = first + static_cast<int>(run.text.size());
  }
  if (anchor >= 0) {
    const Gdiplus::RectF& b = block.boxes[anchor];
    Gdiplus::RectF at(b.X + b.Width, b.Y, static_cast<float>(kEllipsisWidth), b.Height);
    // The colour of the run the anchor belongs to.
    Gdiplus::ARGB colour = 0xFFFFFFFF;
    int start = 0;
    for (const TextRun& run : block.runs) {
      if (anchor < start + static_cast<int>(run.text.size())) {
        colour = run.colour;
        break;
      }
      start += static_cast<int>(run.text.size());
    }
    Gdiplus::SolidBrush brush{Gdiplus::Color(colour)};
    g.DrawString(L"...", 3, &font, cell(at, wide), fmt.get(), &brush);
  }
}

}  // namespace kit
