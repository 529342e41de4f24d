#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qv::ui {

// A colour as 0x00BBGGRR (a COLORREF), or a system colour: kSystemColor | the system colour index
// (COLOR_BTNFACE is 15), which a renderer resolves on its desktop.
using Color = std::uint32_t;
inline constexpr Color kSystemColor = 0x80000000;
inline constexpr Color clBtnFace = kSystemColor | 15;
inline constexpr Color clWindow = kSystemColor | 5;
inline constexpr Color clWindowText = kSystemColor | 8;
inline constexpr Color clBtnText = kSystemColor | 18;
inline constexpr Color clBlack = 0x000000;
inline constexpr Color clWhite = 0xFFFFFF;
inline constexpr Color clGray = 0x808080;
inline constexpr Color clSilver = 0xC0C0C0;
inline constexpr Color clLime = 0x00FF00;
inline constexpr Color clRed = 0x0000FF;
inline constexpr Color clBlue = 0xFF0000;
inline constexpr Color clNavy = 0x800000;

inline constexpr bool IsSystemColor(Color c) {
  return (c & kSystemColor) != 0;
}

struct Font {
  std::string name = "MS Sans Serif";
  int size = 8;    // points, used when pixels is 0
  int pixels = 0;  // character height in pixels; when set it wins over size
  Color color = clWindowText;
  bool bold = false;

  friend bool operator==(const Font&, const Font&) = default;
};

// Position and size in pixels relative to the parent's client area; for the form, the outer
// window rectangle on the screen.
struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;

  friend bool operator==(const Rect&, const Rect&) = default;
};

enum class ControlKind {
  Form,
  Panel,
  Label,
  Button,
  BitBtn,  // button with glyph
  CheckBox,
  RadioButton,
  Edit,
  LabeledEdit,
  ComboBox,
  ScrollBar,
  StringGrid,
  GroupBox,
  PageControl,
  TabSheet,
  Image,
  Timer,       // non-visual
  OpenDialog,  // non-visual
  SaveDialog,  // non-visual
};

// Which property of a control changed; a renderer re-reads that property from the control.
enum class Property {
  Caption,  // caption or text (one storage, as on the desktop: the window text)
  Enabled,
  Visible,
  Checked,
  Color,
  Font,
  Bounds,
  Hint,
  Cell,           // a string grid cell; Change::col/row say which
  CurrentCell,    // a string grid's selected cell
  Position,       // scroll bar position or range
  Items,          // combo box items or item index
  ActivePage,     // page control
  TabVisible,     // tab sheet
  LabelCaption,   // the label of a labelled edit
  TimerSettings,  // timer enabled or interval
};

struct Change {
  Property property;
  int col = -1;
  int row = -1;
};

enum ShiftFlags : unsigned {
  kShiftNone = 0,
  kShift = 1,
  kCtrl = 2,
  kAlt = 4,
};
using ShiftState = unsigned;

// The keys the handlers act on, as the desktop's virtual-key codes.
inline constexpr std::uint16_t kKeyEnter = 0x0D;
inline constexpr std::uint16_t kKeyInsert = 0x2D;
inline constexpr std::uint16_t kKeyDelete = 0x2E;

enum class MouseButton { Left, Right, Middle };

class Control;
class Form;

// Event signatures. Sender is the control the event belongs to. A key handler may set Key to 0
// to swallow the key.
using NotifyEvent = std::function<void(Control& Sender)>;
using KeyEvent = std::function<void(Control& Sender, std::uint16_t& Key, ShiftState Shift)>;
using MouseEvent =
    std::function<void(Control& Sender, MouseButton Button, ShiftState Shift, int X, int Y)>;
using SelectCellEvent = std::function<void(Control& Sender, int ACol, int ARow, bool& CanSelect)>;
using ChangeObserver = std::function<void(Control&, const Change&)>;

// One control of a form. Every control is owned by its form and referred to by name; properties
// are set through setters that tell observers what changed.
class Control {
 public:
  Control(ControlKind kind, std::string name);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;
  virtual ~Control() = default;

  ControlKind Kind() const { return kind_; }
  const std::string& Name() const { return name_; }
  Form* Owner() const { return owner_; }
  Control* Parent() const { return parent_; }
  const std::vector<Control*>& Children() const { return children_; }
  // Timers and dialogs have no window and no parent.
  bool IsVisual() const;

  // Caption of labels, buttons, boxes and panels, text of edits: one storage.
  const std::string& Caption() const { return caption_; }
  virtual void SetCaption(std::string caption);
  const std::string& Text() const { return caption_; }
  void SetText(std::string text) { SetCaption(std::move(text)); }

  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool enabled);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  // Own flag and every parent's: a control inside a disabled group takes no input.
  bool EnabledForInput() const;
  // Own flag and every parent's visible (a page that is not active counts as visible here).
  bool Showing() const;

  Color GetColor() const { return color_; }
  void SetColor(Color color);
  const Font& GetFont() const { return font_; }
  void SetFont(const Font& font);

  const Rect& Bounds() const { return bounds_; }
  void SetBounds(const Rect& bounds);
  void SetLeft(int left);
  void SetTop(int top);
  void SetWidth(int width);
  void SetHeight(int height);

  int Tag() const { return tag_; }
  void SetTag(int tag) { tag_ = tag; }
  const std::string& Hint() const { return hint_; }
  void SetHint(std::string hint);
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool show) { showHint_ = show; }

  NotifyEvent OnClick;
  KeyEvent OnKeyDown;
  MouseEvent OnMouseUp;
  NotifyEvent OnChange;
  // Told about every property change of this control only (the form's observers hear all).
  ChangeObserver OnChanged;

  // Runs OnClick as code does, whether or not the control is enabled.
  virtual void Click();

 protected:
  void Notify(const Change& change);
  void Notify(Property property) { Notify(Change{property}); }

 private:
  friend class Form;

  ControlKind kind_;
  std::string name_;
  Form* owner_ = nullptr;
  Control* parent_ = nullptr;
  std::vector<Control*> children_;

  std::string caption_;
  bool enabled_ = true;
  bool visible_ = true;
  Color color_ = clBtnFace;
  Font font_;
  Rect bounds_;
  int tag_ = 0;
  std::string hint_;
  bool showHint_ = false;
};

}  // namespace qv::ui
