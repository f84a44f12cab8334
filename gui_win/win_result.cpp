#include "win_result.hpp"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>
#include <vector>

#include "app/result_table.hpp"
#include "texts/texts.hpp"
#include "win_dialogs.hpp"
#include "win_dpi.hpp"
#include "win_text.hpp"

namespace falcet::win {
namespace {

constexpr int kListId = 200;
constexpr int kThumbnailColumn = static_cast<int>(ResultColumn::Thumbnail);

COLORREF colorRef(Rgb c) { return RGB(c.red, c.green, c.blue); }

// Releases a COM interface when it goes out of scope.
template <typename T>
struct Com {
  T* p = nullptr;
  ~Com() {
    if (p) p->Release();
  }
  T** out() { return &p; }
  T* operator->() const { return p; }
};

struct View {
  const ResultReport* result = nullptr;
  const ResultTable* table = nullptr;
  UINT dpi = 96;
  HWND window = nullptr, report = nullptr, summary = nullptr, list = nullptr, ok = nullptr;
  HFONT font = nullptr;
  HIMAGELIST images = nullptr;
  ResultColumn sortColumn = ResultColumn::Number;
  bool ascending = true;
};

int px(int logical, UINT dpi) { return ::MulDiv(logical, static_cast<int>(dpi), 96); }

// A count with its digits grouped in threes, as the user's locale writes it (GetNumberFormatEx).
std::wstring grouped(std::int64_t value) {
  const std::wstring digits = std::to_wstring(value);
  NUMBERFMTW format{};
  wchar_t decimal[8] = L".", thousand[8] = L",";
  ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, decimal, 8);
  ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, thousand, 8);
  format.Grouping = 3;
  format.lpDecimalSep = decimal;
  format.lpThousandSep = thousand;
  format.NegativeOrder = 1;
  wchar_t out[64] = {};
  if (::GetNumberFormatEx(LOCALE_NAME_USER_DEFAULT, 0, digits.c_str(), &format, out, 64) <= 0) return digits;
  return out;
}

std::wstring cellText(const View& v, std::size_t row, ResultColumn column) {
  if (column == ResultColumn::Bytes) return grouped(v.table->row(row).bytes);
  return wide(v.table->cellText(row, column));
}

int CALLBACK compareRows(LPARAM a, LPARAM b, LPARAM state) {
  const View& v = *reinterpret_cast<const View*>(state);
  const int order = v.table->compare(static_cast<std::size_t>(a), static_cast<std::size_t>(b), v.sortColumn,
                                     [](const std::string& x, const std::string& y) {
                                       return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, wide(x).c_str(), -1,
                                                               wide(y).c_str(), -1) - CSTR_EQUAL;
                                     });
  return v.ascending ? order : -order;
}

// Premultiplied BGRA pixels of a square thumbnail, the picture centred on the window colour.
class Square {
 public:
  explicit Square(int size) : m_size(size), m_pixels(static_cast<std::size_t>(size) * size, background()) {}
  static std::uint32_t background() {
    const COLORREF c = ::GetSysColor(COLOR_WINDOW);
    return 0xFF000000u | (std::uint32_t{GetRValue(c)} << 16) | (std::uint32_t{GetGValue(c)} << 8) | GetBValue(c);
  }
  // Lays premultiplied pixels of a w × h image over the background, centred.
  void over(const std::vector<std::uint32_t>& image, int w, int h) {
    const int left = (m_size - w) / 2, top = (m_size - h) / 2;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::uint32_t s = image[static_cast<std::size_t>(y) * w + x];
        std::uint32_t& d = m_pixels[static_cast<std::size_t>(top + y) * m_size + left + x];
        const std::uint32_t inverse = 255 - (s >> 24);
        std::uint32_t out = 0xFF000000u;
        for (int shift : {0, 8, 16}) {
          const std::uint32_t c = ((s >> shift) & 0xFF) + (((d >> shift) & 0xFF) * inverse + 127) / 255;
          out |= std::min<std::uint32_t>(c, 255) << shift;
        }
        d = out;
      }
  }
  HBITMAP bitmap() const {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = m_size;
    bi.bmiHeader.biHeight = -m_size;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP b = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (b && bits) std::memcpy(bits, m_pixels.data(), m_pixels.size() * 4);
    return b;
  }
  [[nodiscard]] int size() const { return m_size; }

 private:
  int m_size;
  std::vector<std::uint32_t> m_pixels;
};

// The picture file decoded by WIC (for icons and cursors the largest image), at the window's DPI
// and scaled down to fit the square; false when WIC cannot decode it.
bool drawPicture(IWICImagingFactory* wic, const std::wstring& path, UINT dpi, Square& square) {
  Com<IWICBitmapDecoder> decoder;
  if (FAILED(wic->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                            decoder.out())))
    return false;
  UINT frames = 0;
  if (FAILED(decoder->GetFrameCount(&frames)) || frames == 0) return false;
  Com<IWICBitmapFrameDecode> best;
  UINT bestW = 0, bestH = 0;
  for (UINT i = 0; i < frames && i < 64; ++i) {
    Com<IWICBitmapFrameDecode> frame;
    UINT w = 0, h = 0;
    if (FAILED(decoder->GetFrame(i, frame.out())) || FAILED(frame->GetSize(&w, &h))) continue;
    if (std::uint64_t{w} * h > std::uint64_t{bestW} * bestH) {
      std::swap(best.p, frame.p);
      bestW = w, bestH = h;
    }
  }
  if (!best.p || bestW == 0 || bestH == 0) return false;
  Com<IWICFormatConverter> converter;
  if (FAILED(wic->CreateFormatConverter(converter.out())) ||
      FAILED(converter->Initialize(best.p, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)))
    return false;
  const int size = square.size();
  int w = std::max(1, px(static_cast<int>(bestW), dpi)), h = std::max(1, px(static_cast<int>(bestH), dpi));
  if (w > size || h > size) {
    if (w >= h) h = std::max(1, ::MulDiv(h, size, w)), w = size;
    else w = std::max(1, ::MulDiv(w, size, h)), h = size;
  }
  IWICBitmapSource* source = converter.p;
  Com<IWICBitmapScaler> scaler;
  if (w != static_cast<int>(bestW) || h != static_cast<int>(bestH)) {
    if (FAILED(wic->CreateBitmapScaler(scaler.out())) ||
        FAILED(scaler->Initialize(converter.p, static_cast<UINT>(w), static_cast<UINT>(h),
                                  WICBitmapInterpolationModeFant)))
      return false;
    source = scaler.p;
  }
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * h);
  if (FAILED(source->CopyPixels(nullptr, static_cast<UINT>(w) * 4, static_cast<UINT>(pixels.size() * 4),
                                reinterpret_cast<BYTE*>(pixels.data()))))
    return false;
  square.over(pixels, w, h);
  return true;
}

// The file's icon as the shell shows it (metafiles and whatever WIC cannot decode).
HBITMAP shellIconBitmap(const std::wstring& path, int size) {
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  Square blank(size);
  HBITMAP b = blank.bitmap();
  HGDIOBJ old = ::SelectObject(dc, b);
  SHFILEINFOW info{};
  if (::SHGetFileInfoW(path.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                       SHGFI_ICON | SHGFI_LARGEICON | SHGFI_USEFILEATTRIBUTES) && info.hIcon) {
    const int icon = size * 2 / 3;
    ::DrawIconEx(dc, (size - icon) / 2, (size - icon) / 2, info.hIcon, icon, icon, 0, nullptr, DI_NORMAL);
    ::DestroyIcon(info.hIcon);
  }
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
  return b;
}

void fillList(View& v) {
  const int thumb = px(48, v.dpi);
  v.images = ImageList_Create(thumb, thumb, ILC_COLOR32, static_cast<int>(v.result->rows.size()), 8);
  Com<IWICImagingFactory> wic;
  (void)::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                           reinterpret_cast<void**>(wic.out()));
  for (const ResultRow& r : v.result->rows) {
    const std::wstring path = wide(r.path);
    Square square(thumb);
    HBITMAP b = wic.p && drawPicture(wic.p, path, v.dpi, square) ? square.bitmap() : shellIconBitmap(path, thumb);
    ImageList_Add(v.images, b, nullptr);
    ::DeleteObject(b);
  }
  ListView_SetImageList(v.list, v.images, LVSIL_SMALL);

  const int columns = v.table->columnCount();
  for (int c = 0; c < columns; ++c) {
    std::wstring text = wide(ResultTable::heading(static_cast<ResultColumn>(c)));
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | LVCF_FMT;
    col.fmt = ResultTable::alignsRight(static_cast<ResultColumn>(c)) ? LVCFMT_RIGHT : LVCFMT_LEFT;
    col.pszText = text.data();
    col.cx = px(60, v.dpi);
    col.iSubItem = c;
    ListView_InsertColumn(v.list, c, &col);
  }
  for (std::size_t i = 0; i < v.table->rowCount(); ++i) {
    LVITEMW item{};
    item.mask = LVIF_IMAGE | LVIF_PARAM | LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.iImage = static_cast<int>(i);
    item.lParam = static_cast<LPARAM>(i);
    wchar_t empty[] = L"";
    item.pszText = empty;
    const int at = ListView_InsertItem(v.list, &item);
    for (int c = kThumbnailColumn + 1; c < columns; ++c) {
      std::wstring text = cellText(v, i, static_cast<ResultColumn>(c));
      ListView_SetItemText(v.list, at, c, text.data());
    }
  }
  // Each column as wide as its widest text (heading included), the long ones capped.
  for (int c = kThumbnailColumn + 1; c < columns; ++c) {
    const auto column = static_cast<ResultColumn>(c);
    std::wstring heading = wide(ResultTable::heading(column));
    int width = ListView_GetStringWidth(v.list, heading.c_str());
    for (std::size_t i = 0; i < v.table->rowCount(); ++i)
      width = std::max(width, ListView_GetStringWidth(v.list, cellText(v, i, column).c_str()));
    width += px(16, v.dpi);
    if (ResultTable::widthCapped(column)) width = std::min(width, px(ResultTable::kCappedWidth, v.dpi));
    ListView_SetColumnWidth(v.list, c, width);
  }
  ListView_SetColumnWidth(v.list, kThumbnailColumn, thumb + px(12, v.dpi));
  std::vector<int> order;
  for (ResultColumn c : v.table->displayOrder()) order.push_back(static_cast<int>(c));
  ListView_SetColumnOrderArray(v.list, static_cast<int>(order.size()), order.data());
}

void layout(View& v) {
  RECT client{};
  ::GetClientRect(v.window, &client);
  const int m = px(8, v.dpi), line = px(16, v.dpi), button = px(28, v.dpi);
  const int w = client.right - 2 * m;
  // The report takes up to six lines, fewer (down to two) where the list would otherwise have
  // no room for its heading and a couple of rows (a small screen at a high DPI).
  const int fixed = m + px(6, v.dpi) + line + px(6, v.dpi) + m + button + m;
  const int listWanted = px(130, v.dpi);
  const int reportHeight = std::clamp(static_cast<int>(client.bottom) - fixed - listWanted, line * 2 + px(8, v.dpi),
                                      line * 6 + px(8, v.dpi));
  ::MoveWindow(v.report, m, m, w, reportHeight, TRUE);
  const int summaryTop = m + reportHeight + px(6, v.dpi);
  ::MoveWindow(v.summary, m, summaryTop, w, line + px(2, v.dpi), TRUE);
  const int listTop = summaryTop + line + px(6, v.dpi);
  const int okTop = client.bottom - m - button;
  ::MoveWindow(v.list, m, listTop, w, okTop - m - listTop, TRUE);
  ::MoveWindow(v.ok, client.right - m - px(88, v.dpi), okTop, px(88, v.dpi), button, TRUE);
}

LRESULT CALLBACK resultProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* v = reinterpret_cast<View*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) ::DestroyWindow(h);
      return 0;
    case WM_CLOSE: ::DestroyWindow(h); return 0;
    case WM_SIZE:
      if (v && v->list) layout(*v);
      return 0;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lp);
      info->ptMinTrackSize = {px(420, v ? v->dpi : 96), px(320, v ? v->dpi : 96)};
      return 0;
    }
    case WM_NOTIFY: {
      const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
      if (!v || hdr->idFrom != kListId) break;
      if (hdr->code == LVN_COLUMNCLICK) {
        const auto column = static_cast<ResultColumn>(reinterpret_cast<const NMLISTVIEW*>(lp)->iSubItem);
        v->ascending = column == v->sortColumn ? !v->ascending : true;
        v->sortColumn = column;
        ListView_SortItems(v->list, compareRows, reinterpret_cast<LPARAM>(v));
        return 0;
      }
      if (hdr->code == NM_DBLCLK || hdr->code == NM_RETURN) {
        const int item = ListView_GetNextItem(v->list, -1, LVNI_SELECTED);
        if (item < 0) return 0;
        LVITEMW it{};
        it.mask = LVIF_PARAM;
        it.iItem = item;
        ListView_GetItem(v->list, &it);
        const std::wstring path = wide(v->result->rows[static_cast<std::size_t>(it.lParam)].path);
        (void)::ShellExecuteW(h, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return 0;
      }
      if (hdr->code == NM_CUSTOMDRAW) {
        auto* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(lp);
        if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
        if (cd->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
          const auto row = static_cast<std::size_t>(cd->nmcd.lItemlParam);
          if (const auto back = v->table->background(row)) cd->clrTextBk = colorRef(*back);
          if (const auto text = v->table->foreground(row)) cd->clrText = colorRef(*text);
          return CDRF_NEWFONT;
        }
        return CDRF_DODEFAULT;
      }
      break;
    }
    default: break;
  }
  return ::DefWindowProcW(h, msg, wp, lp);
}

HFONT messageFont(UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
    return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  // The system gives the font at the system's DPI; the window may be on a screen of another.
  HDC screen = ::GetDC(nullptr);
  const int systemDpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  metrics.lfMessageFont.lfHeight = ::MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), systemDpi);
  return ::CreateFontIndirectW(&metrics.lfMessageFont);
}

}  // namespace

void showResultView(HWND owner, const ResultReport& result) {
  static bool registered = false;
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  if (!registered) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&icc);
    WNDCLASSW wc{};
    wc.lpfnWndProc = resultProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kResultWindowClass;
    ::RegisterClassW(&wc);
    registered = true;
  }
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  const ResultTable table(result);
  View v;
  v.result = &result;
  v.table = &table;
  v.dpi = windowDpi(owner);
  v.font = messageFont(v.dpi);

  // Within an 800 × 600 screen and the work area it opens on.
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const ViewSize fit = ResultTable::fitSize(px(780, v.dpi), {work.right - work.left, work.bottom - work.top},
                                            static_cast<int>(v.dpi));
  const int width = fit.width, height = fit.height;
  const std::wstring title = wide(table.isImport() ? texts::result::kImportTitle : texts::result::kExportTitle);
  v.window = ::CreateWindowExW(WS_EX_DLGMODALFRAME, kResultWindowClass, title.c_str(),
                               WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN,
                               work.left + (work.right - work.left - width) / 2,
                               work.top + (work.bottom - work.top - height) / 2, width, height, owner, nullptr,
                               instance, nullptr);
  std::wstring text = wide(result.text);
  v.report = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", text.c_str(),
                               WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                                   ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_TABSTOP,
                               0, 0, 0, 0, v.window, nullptr, instance, nullptr);
  const std::wstring summary = wide(resultSummary(result)) + L"  " + wide(texts::result::kOpenHint);
  v.summary = ::CreateWindowExW(0, L"STATIC", summary.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, 0, 0, 0,
                                0, v.window, nullptr, instance, nullptr);
  v.list = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL,
                             0, 0, 0, 0, v.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kListId)), instance,
                             nullptr);
  ListView_SetExtendedListViewStyle(v.list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_HEADERDRAGDROP);
  const std::wstring okText = wide(texts::result::kOk);
  v.ok = ::CreateWindowExW(0, L"BUTTON", okText.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0,
                           0, 0, 0, v.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), instance, nullptr);
  for (HWND c : {v.report, v.summary, v.list, v.ok})
    ::SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(v.font), TRUE);
  fillList(v);
  ::SetWindowLongPtrW(v.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&v));
  layout(v);

  if (!result.rows.empty()) ListView_SetItemState(v.list, 0, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
  runModal(owner, v.window, v.list);
  ImageList_Destroy(v.images);
  if (v.font != ::GetStockObject(DEFAULT_GUI_FONT)) ::DeleteObject(v.font);
  if (SUCCEEDED(com)) ::CoUninitialize();
}

}  // namespace falcet::win
