// The device layer that libwmf plays a WMF picture through: libwmf reads
// the records and keeps the device context (pens, brushes, fonts, text
// alignment, clipping), and calls these functions with shapes, bitmaps
// and text in its device coordinates; they draw with a QPainter.
//
// libwmf comes with devices of its own. Its GD device leaves ellipses
// unfilled and its SVG device fills every shape at half opacity, so
// neither draws the picture the file describes.
//
// What is drawn and how:
//   shapes      QPainter paths with the pen (style, width in device units,
//               end cap, join) and the brush (solid, hatched, or a pattern
//               bitmap) of the device context; polygon fill mode
//   bitmaps     the DIB libwmf decoded, cropped, scaled to the place the
//               record gives; SRCCOPY, SRCAND, SRCPAINT and SRCINVERT. A
//               DIB whose header is unknown or claims more pixels than
//               its record holds ends the play with wmf_E_BadFormat
//   text        glyph outlines from the FreeType face that libwmf's font
//               map chose for the font (wmf_reader.cpp maps the names to
//               the DejaVu fonts), so the text has the metrics libwmf
//               aligned it with; bytes are taken as Latin-1
//   regions     painted, framed, or set as the clip
//   not drawn   flood fills, and raster operations other than the above
//               (drawn as a plain copy)
#pragma once

struct _wmfAPI;
class QPainter;

namespace fw::wmf {

// libwmf's device-layer entry (the WMF_OPT_FUNCTION option of
// wmf_api_create): fills the library's function table.
void InstallDevice(_wmfAPI* api);

// The painter the next wmf_play draws on, already mapped from libwmf's
// device coordinates to the picture's pixels; nullptr draws nothing (for
// wmf_scan).
void SetDevicePainter(_wmfAPI* api, QPainter* painter);

}  // namespace fw::wmf
