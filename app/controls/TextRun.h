// Text runs: the rich text of the kit's statics (CCustomStatic, CTRSStatic,
// ChildStatic). A block is a list of runs, each in its own colour, some of
// them links (a web address) or commands (an id sent to the parent), and one
// measured box per character of the whole text, from which the runs' click
// and cursor rectangles are built.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <string>
#include <vector>

struct TextRun {
  std::wstring text;
  std::wstring target;                     // web address of a link run; may be empty
  Gdiplus::ARGB colour = 0xFFFFFFFF;
  std::vector<Gdiplus::RectF> hitRects;    // one per character of the run: clicks
  std::vector<RECT> lineRects;             // one per text line: hand cursor, focus rectangles
  bool command = false;                    // a click sends WM_COMMAND commandId to the parent
  int commandId = 0;
  bool link = false;                       // underlined

  // Takes clicks, the hand cursor and the keyboard focus.
  bool IsActive() const { return !target.empty() || command; }
};

struct TextRunBlock {
  bool inUse = false;                      // the control shows the runs, not its plain text
  std::wstring text;                       // all runs' texts joined
  std::vector<Gdiplus::RectF> boxes;       // one per character of text, control coordinates
  std::vector<TextRun> runs;
  int focusedRun = -1;                     // run with the keyboard focus; -1 none
  int overflowIndex = 0;                   // last character that fits; 0 = everything fits

  TextRunBlock() { Reset(); }
  void Reset();
};

namespace kit {

// GDI+ hands out at most 32 measurable ranges per call on Windows.
constexpr int kMaxRangesPerMeasure = 32;

// One box per character of text (in order, appended to *boxes), measured
// with one range per character in batches of kMaxRangesPerMeasure. A
// character that does not fit the layout gets an empty box at (0, 0).
// `format` is copied, never changed.
void MeasureCharacterBoxes(Gdiplus::Graphics& g, const std::wstring& text, const Gdiplus::Font& font,
                           const Gdiplus::RectF& layout, const Gdiplus::StringFormat& format,
                           std::vector<Gdiplus::RectF>* boxes);

// After the boxes are measured: each run's hit rectangles (its characters'
// boxes) and, for active runs, its line rectangles (one per text line; the
// run's last one 4 pixels wider); the first active run becomes the focused
// run when none is; and the overflow index: with centred lines, two before
// the first character whose box and its predecessor's both sit at (0, 0);
// otherwise one before the first character whose box reaches below
// `clientBottom`.
void LayoutRuns(TextRunBlock* block, float clientBottom, bool centredLines);

// Where "..." goes when the block overflows: counting back from the
// overflow index, the first character with a box away from (0, 0) whose
// right edge plus kEllipsisWidth still fits in clientWidth; -1 for none.
constexpr int kEllipsisWidth = 13;
int EllipsisAnchor(const TextRunBlock& block, int clientWidth);

// One underline segment per text line of the characters [first, last] of
// the block: from the line's first box's left to its last box's right, at
// the line's top + fontHeight, shortened or lengthened as the kit draws
// them (+1..+2, or -2..-1 for far-aligned text).
struct UnderlineSegment {
  float x0, x1, y;
};
std::vector<UnderlineSegment> UnderlineSegments(const TextRunBlock& block, int first, int last,
                                                float fontHeight, bool farAligned);

// The active run whose hit rectangles hold pt: its target (links) or its
// command id (commands); empty / 0 for none. Links are looked for first.
std::wstring HitTestLink(const TextRunBlock& block, POINT pt);
int HitTestCommand(const TextRunBlock& block, POINT pt);
// True when pt lies in a line rectangle of an active run (the hand cursor).
bool InLinkLine(const TextRunBlock& block, POINT pt);

// Draws the block's characters one by one at their boxes shifted by
// (dx, dy), each run in its colour, underlining link runs, stopping at the
// overflow point with "..." after the last character that leaves room for
// it. Nothing is drawn after the "...".
void DrawRuns(Gdiplus::Graphics& g, const TextRunBlock& block, const Gdiplus::Font& font,
              const Gdiplus::StringFormat& format, int clientWidth, float dx, float dy);

}  // namespace kit
