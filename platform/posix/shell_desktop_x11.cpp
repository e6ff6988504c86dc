// Key state and screen capture straight from the X server: one private connection of
// our own, so the callers' threads (hotkey, key sequences) never touch GTK's.
#include "platform/posix/shell_desktop.h"

#include <X11/XF86keysym.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <png.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/error.h"
#include "platform/fs.h"

namespace platform::desktop {

namespace {

// Windows virtual-key codes and the X key symbols that stand for them here. A code
// may have several symbols (either shift key, the keypad's Enter).
struct KeyName {
    int code;
    KeySym symbols[3];
};

const KeyName kKeyNames[] = {
    {0x03, {XK_Cancel}},
    {0x08, {XK_BackSpace}},
    {0x09, {XK_Tab, XK_ISO_Left_Tab}},
    {0x0C, {XK_Clear}},
    {0x0D, {XK_Return, XK_KP_Enter}},
    {0x10, {XK_Shift_L, XK_Shift_R}},
    {0x11, {XK_Control_L, XK_Control_R}},
    {0x12, {XK_Alt_L, XK_Alt_R, XK_ISO_Level3_Shift}},
    {0x13, {XK_Pause}},
    {0x14, {XK_Caps_Lock}},
    {0x1B, {XK_Escape}},
    {0x20, {XK_space}},
    {0x21, {XK_Prior, XK_KP_Prior}},
    {0x22, {XK_Next, XK_KP_Next}},
    {0x23, {XK_End, XK_KP_End}},
    {0x24, {XK_Home, XK_KP_Home}},
    {0x25, {XK_Left, XK_KP_Left}},
    {0x26, {XK_Up, XK_KP_Up}},
    {0x27, {XK_Right, XK_KP_Right}},
    {0x28, {XK_Down, XK_KP_Down}},
    {0x29, {XK_Select}},
    {0x2B, {XK_Execute}},
    {0x2C, {XK_Print, XK_Sys_Req}},  // VK_SNAPSHOT; VK_PRINT (0x2A) has no key here
    {0x2D, {XK_Insert, XK_KP_Insert}},
    {0x2E, {XK_Delete, XK_KP_Delete}},
    {0x2F, {XK_Help}},
    {0x5B, {XK_Super_L}},
    {0x5C, {XK_Super_R}},
    {0x5D, {XK_Menu}},
    {0x5F, {XF86XK_Sleep}},
    {0x6A, {XK_KP_Multiply}},
    {0x6B, {XK_KP_Add}},
    {0x6C, {XK_KP_Separator}},
    {0x6D, {XK_KP_Subtract}},
    {0x6E, {XK_KP_Decimal}},
    {0x6F, {XK_KP_Divide}},
    {0x90, {XK_Num_Lock}},
    {0x91, {XK_Scroll_Lock}},
    {0xA0, {XK_Shift_L}},
    {0xA1, {XK_Shift_R}},
    {0xA2, {XK_Control_L}},
    {0xA3, {XK_Control_R}},
    {0xA4, {XK_Alt_L}},
    {0xA5, {XK_Alt_R, XK_ISO_Level3_Shift}},
    {0xA6, {XF86XK_Back}},
    {0xA7, {XF86XK_Forward}},
    {0xA8, {XF86XK_Refresh}},
    {0xA9, {XF86XK_Stop}},
    {0xAA, {XF86XK_Search}},
    {0xAB, {XF86XK_Favorites}},
    {0xAC, {XF86XK_HomePage}},
    {0xAD, {XF86XK_AudioMute}},
    {0xAE, {XF86XK_AudioLowerVolume}},
    {0xAF, {XF86XK_AudioRaiseVolume}},
    {0xB0, {XF86XK_AudioNext}},
    {0xB1, {XF86XK_AudioPrev}},
    {0xB2, {XF86XK_AudioStop}},
    {0xB3, {XF86XK_AudioPlay}},
    {0xB4, {XF86XK_Mail}},
    {0xBA, {XK_semicolon}},
    {0xBB, {XK_equal}},
    {0xBC, {XK_comma}},
    {0xBD, {XK_minus}},
    {0xBE, {XK_period}},
    {0xBF, {XK_slash}},
    {0xC0, {XK_grave}},
    {0xDB, {XK_bracketleft}},
    {0xDC, {XK_backslash}},
    {0xDD, {XK_bracketright}},
    {0xDE, {XK_apostrophe}},
    {0xE2, {XK_less}},
};

// Symbols of a code outside the table: digits, letters, the keypad digits and F1-F24.
int rangeSymbols(int code, KeySym* out) {
    if (code >= '0' && code <= '9') {
        out[0] = XK_0 + static_cast<KeySym>(code - '0');
        return 1;
    }
    if (code >= 'A' && code <= 'Z') {
        out[0] = XK_a + static_cast<KeySym>(code - 'A');
        return 1;
    }
    if (code >= 0x60 && code <= 0x69) {
        out[0] = XK_KP_0 + static_cast<KeySym>(code - 0x60);
        return 1;
    }
    if (code >= 0x70 && code <= 0x87) {
        out[0] = XK_F1 + static_cast<KeySym>(code - 0x70);
        return 1;
    }
    for (const KeyName& name : kKeyNames) {
        if (name.code != code) continue;
        int count = 0;
        while (count < 3 && name.symbols[count] != 0) {
            out[count] = name.symbols[count];
            ++count;
        }
        return count;
    }
    return 0;
}

struct XState {
    std::mutex lock;
    Display* display = nullptr;
    bool mapped = false;
    // For each virtual-key code, the key codes of the server that produce it.
    std::vector<unsigned char> keyCodes[256];
};

XState& xstate() {
    static XState state;
    return state;
}

// Opens the private connection once; the caller holds the lock.
Display* connection(XState& state) {
    if (state.display != nullptr) return state.display;
    state.display = XOpenDisplay(nullptr);
    if (state.display == nullptr) reportFailure("XOpenDisplay", "", ENXIO);
    return state.display;
}

// Which server key codes make each virtual key: every symbol of every key code,
// in every shift level, is matched against the table.
void buildKeyMap(XState& state) {
    Display* display = state.display;
    int minCode = 0;
    int maxCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    int perCode = 0;
    KeySym* symbols = XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
    if (symbols == nullptr) return;
    for (int code = 1; code <= 254; ++code) {
        KeySym wanted[3] = {0, 0, 0};
        int count = rangeSymbols(code, wanted);
        for (int keyCode = minCode; keyCode <= maxCode; ++keyCode) {
            const KeySym* row = symbols + (keyCode - minCode) * perCode;
            bool match = false;
            for (int level = 0; level < perCode && !match; ++level) {
                for (int i = 0; i < count && !match; ++i) match = row[level] == wanted[i];
            }
            if (match) state.keyCodes[code].push_back(static_cast<unsigned char>(keyCode));
        }
    }
    XFree(symbols);
    state.mapped = true;
}

// Mouse buttons in the Windows numbering: 1 left, 2 right, 4 middle.
unsigned int buttonMask(int code) {
    switch (code) {
        case 0x01: return Button1Mask;
        case 0x02: return Button3Mask;
        case 0x04: return Button2Mask;
        default: return 0;
    }
}

void writeToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

// Encodes 8-bit RGB rows as PNG into the vector. libpng reports errors by longjmp, so
// nothing here owns memory across the jump except through the png structures.
bool encodePng(const unsigned char* rgb, int width, int height, std::vector<unsigned char>* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[static_cast<size_t>(y)] = const_cast<png_bytep>(rgb + static_cast<size_t>(y) * static_cast<size_t>(width) * 3);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, writeToVector, flushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Position of the lowest set bit and the width of a colour mask of the visual.
void maskShape(unsigned long mask, int* shift, int* bits) {
    *shift = 0;
    *bits = 0;
    if (mask == 0) return;
    while ((mask & 1UL) == 0) {
        mask >>= 1;
        ++*shift;
    }
    while ((mask & 1UL) != 0) {
        mask >>= 1;
        ++*bits;
    }
}

unsigned char channel(unsigned long pixel, int shift, int bits) {
    if (bits == 0) return 0;
    unsigned long value = (pixel >> shift) & ((1UL << bits) - 1);
    if (bits >= 8) return static_cast<unsigned char>(value >> (bits - 8));
    return static_cast<unsigned char>((value * 255) / ((1UL << bits) - 1));
}

}  // namespace

bool keyDown(int code) {
    if (code < 1 || code > 254) return false;
    XState& state = xstate();
    std::lock_guard<std::mutex> guard(state.lock);
    Display* display = connection(state);
    if (display == nullptr) return false;
    unsigned int mask = buttonMask(code);
    if (mask != 0) {
        Window rootReturn = 0;
        Window childReturn = 0;
        int rootX = 0;
        int rootY = 0;
        int winX = 0;
        int winY = 0;
        unsigned int buttons = 0;
        XQueryPointer(display, DefaultRootWindow(display), &rootReturn, &childReturn, &rootX, &rootY, &winX, &winY, &buttons);
        return (buttons & mask) != 0;
    }
    if (!state.mapped) buildKeyMap(state);
    if (state.keyCodes[code].empty()) return false;
    char keys[32];
    XQueryKeymap(display, keys);
    for (unsigned char keyCode : state.keyCodes[code]) {
        if ((keys[keyCode / 8] & (1 << (keyCode % 8))) != 0) return true;
    }
    return false;
}

bool captureToPng(int width, int height, const char* path) {
    XState& state = xstate();
    std::vector<unsigned char> rgb;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        Display* display = connection(state);
        if (display == nullptr) return false;
        Window root = DefaultRootWindow(display);
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, root, &attributes) == 0) {
            reportFailure("XGetWindowAttributes", "root", EIO);
            return false;
        }
        // The primary display's size from the top-left corner, never beyond the screen.
        if (width <= 0 || width > attributes.width) width = attributes.width;
        if (height <= 0 || height > attributes.height) height = attributes.height;
        XImage* image = XGetImage(display, root, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes, ZPixmap);
        if (image == nullptr) {
            reportFailure("XGetImage", "root", EIO);
            return false;
        }
        int redShift, redBits, greenShift, greenBits, blueShift, blueBits;
        maskShape(image->red_mask, &redShift, &redBits);
        maskShape(image->green_mask, &greenShift, &greenBits);
        maskShape(image->blue_mask, &blueShift, &blueBits);
        rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
        unsigned char* out = rgb.data();
        bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst;
        for (int y = 0; y < height; ++y) {
            const auto* line = reinterpret_cast<const unsigned char*>(image->data) + static_cast<size_t>(y) * static_cast<size_t>(image->bytes_per_line);
            for (int x = 0; x < width; ++x) {
                unsigned long pixel;
                if (direct) {
                    const unsigned char* p = line + static_cast<size_t>(x) * 4;
                    pixel = static_cast<unsigned long>(p[0]) | (static_cast<unsigned long>(p[1]) << 8) |
                            (static_cast<unsigned long>(p[2]) << 16) | (static_cast<unsigned long>(p[3]) << 24);
                } else {
                    pixel = XGetPixel(image, x, y);
                }
                *out++ = channel(pixel, redShift, redBits);
                *out++ = channel(pixel, greenShift, greenBits);
                *out++ = channel(pixel, blueShift, blueBits);
            }
        }
        XDestroyImage(image);
    }
    std::vector<unsigned char> encoded;
    if (!encodePng(rgb.data(), width, height, &encoded)) {
        reportFailure("png_write_png", path, EIO);
        return false;
    }
    // A second capture in the same second replaces the first file whole.
    return replaceFileContent(path, encoded.data(), encoded.size());
}

}  // namespace platform::desktop
