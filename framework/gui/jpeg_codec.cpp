// JPEG coding on libjpeg.
//
// The library reports a fatal error by calling the error manager's
// error_exit, which must not return. Ours leaves by longjmp to the setjmp
// of the operation under way. To keep that well-defined in C++:
//   (1) the operation's state lives in a job object in the caller's frame;
//       RunDecode/RunEncode/RunReadSize hold no local with a destructor and
//       modify no local after setjmp;
//   (2) no C++ exception crosses a library frame: the destination manager
//       catches a failed allocation and raises the library's
//       out-of-memory error after leaving its catch block;
//   (3) the caller destroys the library object through a guard, whichever
//       way the operation ended.
#include "framework/gui/jpeg_codec.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

namespace fw::jpeg {

namespace {

constexpr std::size_t kOutputChunk = 64 * 1024;

struct JobState {
  int code = 0;
  std::string limit;
  // The library's text for code; stays empty when it could not be kept.
  std::string text;
};

// pub comes first: the library's err pointer is a pointer to it.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  JobState* state;
  const DecodeLimits* limits;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  err->state->code = err->pub.msg_code != 0 ? err->pub.msg_code : -1;
  char text[JMSG_LENGTH_MAX] = {};
  err->pub.format_message(cinfo, text);
  try {
    err->state->text = text;
  } catch (...) {
    // Out of memory: the code alone goes back.
  }
  std::longjmp(err->jump, 1);
}

// Warnings and trace messages are not shown; the one warning that matters
// (data ended early) cannot happen, as our source raises an error instead.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}

void InstallErrorManager(ErrorManager& err, JobState& state, const DecodeLimits* limits) {
  jpeg_std_error(&err.pub);
  err.state = &state;
  err.limits = limits;
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = EmitMessage;
  err.pub.output_message = OutputMessage;
}

// --- source: the whole file is in memory from the start, so the library
// asks for more only when the file ended too early.

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  ERREXIT(cinfo, JERR_INPUT_EOF);
  return FALSE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  if (static_cast<unsigned long>(count) > src->bytes_in_buffer) ERREXIT(cinfo, JERR_INPUT_EOF);
  src->next_input_byte += count;
  src->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void TermSource(j_decompress_ptr) {}

void InstallSource(jpeg_source_mgr& src, const std::uint8_t* data, std::size_t size) {
  src.init_source = InitSource;
  src.fill_input_buffer = FillInputBuffer;
  src.skip_input_data = SkipInputData;
  src.resync_to_restart = jpeg_resync_to_restart;
  src.term_source = TermSource;
  src.next_input_byte = data;
  src.bytes_in_buffer = size;
}

// --- destination: a byte vector grown in chunks; free_in_buffer counts the
// unused tail of the last chunk.

struct Destination {
  jpeg_destination_mgr pub;
  std::vector<std::uint8_t>* out;
};

bool GrowOutput(Destination* dest) {
  const std::size_t used = dest->out->size();
  try {
    dest->out->resize(used + kOutputChunk);
  } catch (...) {
    return false;
  }
  dest->pub.next_output_byte = dest->out->data() + used;
  dest->pub.free_in_buffer = kOutputChunk;
  return true;
}

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  dest->out->clear();
  if (!GrowOutput(dest)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
}

// Called when the buffer is full: all of it is data.
boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  if (!GrowOutput(dest)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  dest->out->resize(dest->out->size() - dest->pub.free_in_buffer);
}

// --- decoding

struct DecodeJob {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  jpeg_source_mgr src;
  jpeg_progress_mgr progress;
  JobState state;
  const DecodeLimits* limits = nullptr;
  DecodedImage* out = nullptr;
  std::vector<std::uint8_t> cmyk_row;
  bool created = false;
};

struct DecompressGuard {
  DecodeJob& job;
  ~DecompressGuard() {
    if (job.created) jpeg_destroy_decompress(&job.cinfo);
  }
};

// A progressive file may carry any number of scans, each a pass over the
// whole picture; a hostile one makes decoding arbitrarily slow.
void ScanLimit(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (d->input_scan_number > err->limits->max_scans) {
    err->state->limit = "JPEG image has more than " + std::to_string(err->limits->max_scans) + " scans";
    std::longjmp(err->jump, 1);
  }
}

bool CheckSize(DecodeJob& job, std::uint32_t w, std::uint32_t h) {
  const DecodeLimits& l = *job.limits;
  if (w == 0 || h == 0 || w > static_cast<std::uint32_t>(l.max_side) || h > static_cast<std::uint32_t>(l.max_side) ||
      static_cast<std::int64_t>(w) * h > l.max_pixels) {
    job.state.limit = "JPEG image too large (" + std::to_string(w) + " x " + std::to_string(h) + ")";
    return false;
  }
  return true;
}

// Adobe writes CMYK inverted (0 is full ink); others plainly.
void CmykToBgrx(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width, bool inverted) {
  for (std::uint32_t x = 0; x < width; ++x, in += 4, out += 4) {
    unsigned c = in[0], m = in[1], y = in[2], k = in[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    out[0] = static_cast<std::uint8_t>(y * k / 255);
    out[1] = static_cast<std::uint8_t>(m * k / 255);
    out[2] = static_cast<std::uint8_t>(c * k / 255);
    out[3] = 0xFF;
  }
}

void RunDecode(DecodeJob& job, const std::uint8_t* data, std::size_t size) {
  if (setjmp(job.err.jump) != 0) return;
  jpeg_create_decompress(&job.cinfo);
  job.created = true;
  InstallSource(job.src, data, size);
  job.cinfo.src = &job.src;
  job.progress.progress_monitor = ScanLimit;
  job.cinfo.progress = &job.progress;
  jpeg_read_header(&job.cinfo, TRUE);
  if (!CheckSize(job, job.cinfo.image_width, job.cinfo.image_height)) return;
  const bool cmyk = job.cinfo.jpeg_color_space == JCS_CMYK || job.cinfo.jpeg_color_space == JCS_YCCK;
  job.cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
  jpeg_calc_output_dimensions(&job.cinfo);
  const std::uint32_t w = job.cinfo.output_width, h = job.cinfo.output_height;
  job.out->width = static_cast<int>(w);
  job.out->height = static_cast<int>(h);
  job.out->grayscale = job.cinfo.num_components == 1;
  job.out->bgrx.assign(static_cast<std::size_t>(w) * h * 4, 0);
  if (cmyk) job.cmyk_row.assign(static_cast<std::size_t>(w) * 4, 0);
  jpeg_start_decompress(&job.cinfo);
  while (job.cinfo.output_scanline < h) {
    std::uint8_t* dest = job.out->bgrx.data() + static_cast<std::size_t>(job.cinfo.output_scanline) * w * 4;
    JSAMPROW row = cmyk ? job.cmyk_row.data() : dest;
    if (jpeg_read_scanlines(&job.cinfo, &row, 1) != 1) {
      job.state.code = JERR_INPUT_EOF;  // a suspending source only; ours never suspends
      return;
    }
    if (cmyk) CmykToBgrx(job.cmyk_row.data(), dest, w, job.cinfo.saw_Adobe_marker != 0);
  }
  jpeg_finish_decompress(&job.cinfo);
}

void RunReadSize(DecodeJob& job, const std::uint8_t* data, std::size_t size) {
  if (setjmp(job.err.jump) != 0) return;
  jpeg_create_decompress(&job.cinfo);
  job.created = true;
  InstallSource(job.src, data, size);
  job.cinfo.src = &job.src;
  jpeg_read_header(&job.cinfo, TRUE);
  job.out->width = static_cast<int>(job.cinfo.image_width);
  job.out->height = static_cast<int>(job.cinfo.image_height);
}

// --- encoding

struct EncodeJob {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  Destination dest;
  JobState state;
  bool created = false;
};

struct CompressGuard {
  EncodeJob& job;
  ~CompressGuard() {
    if (job.created) jpeg_destroy_compress(&job.cinfo);
  }
};

void RunEncode(EncodeJob& job, const std::uint8_t* bgrx, int width, int height, const EncodeOptions& options) {
  if (setjmp(job.err.jump) != 0) return;
  jpeg_create_compress(&job.cinfo);
  job.created = true;
  job.dest.pub.init_destination = InitDestination;
  job.dest.pub.empty_output_buffer = EmptyOutputBuffer;
  job.dest.pub.term_destination = TermDestination;
  job.cinfo.dest = &job.dest.pub;
  job.cinfo.image_width = static_cast<JDIMENSION>(width < 0 ? 0 : width);
  job.cinfo.image_height = static_cast<JDIMENSION>(height < 0 ? 0 : height);
  job.cinfo.input_components = 4;
  job.cinfo.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&job.cinfo);
  if (options.grayscale) jpeg_set_colorspace(&job.cinfo, JCS_GRAYSCALE);
  jpeg_set_quality(&job.cinfo, options.quality < 1 ? 1 : (options.quality > 100 ? 100 : options.quality), TRUE);
  if (options.progressive) jpeg_simple_progression(&job.cinfo);
  jpeg_start_compress(&job.cinfo, TRUE);
  while (job.cinfo.next_scanline < job.cinfo.image_height) {
    JSAMPROW row = const_cast<std::uint8_t*>(bgrx) + static_cast<std::size_t>(job.cinfo.next_scanline) * job.cinfo.image_width * 4;
    jpeg_write_scanlines(&job.cinfo, &row, 1);
  }
  jpeg_finish_compress(&job.cinfo);
}

}  // namespace

std::string Status::Message() const {
  if (code == 0) return limit;
  std::string message = "JPEG error #" + std::to_string(code);
  if (!text.empty()) message += ": " + text;
  return message;
}

Status ReadSize(const std::uint8_t* data, std::size_t size, int& width, int& height) {
  DecodeJob job{};
  DecodedImage out;
  DecodeLimits limits;
  job.limits = &limits;
  job.out = &out;
  InstallErrorManager(job.err, job.state, &limits);
  job.cinfo.err = &job.err.pub;
  {
    DecompressGuard guard{job};
    RunReadSize(job, data, size);
  }
  width = out.width;
  height = out.height;
  return {job.state.code, job.state.limit, job.state.text};
}

Status Decode(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits, DecodedImage& out) {
  DecodeJob job{};
  job.limits = &limits;
  job.out = &out;
  InstallErrorManager(job.err, job.state, &limits);
  job.cinfo.err = &job.err.pub;
  {
    DecompressGuard guard{job};
    RunDecode(job, data, size);
  }
  Status status{job.state.code, job.state.limit, job.state.text};
  if (!status.ok()) out = DecodedImage();
  return status;
}

Status Encode(const std::uint8_t* bgrx, int width, int height, const EncodeOptions& options,
              std::vector<std::uint8_t>& out) {
  EncodeJob job{};
  job.dest.out = &out;
  InstallErrorManager(job.err, job.state, nullptr);
  job.cinfo.err = &job.err.pub;
  {
    CompressGuard guard{job};
    RunEncode(job, bgrx, width, height, options);
  }
  Status status{job.state.code, job.state.limit, job.state.text};
  if (!status.ok()) out.clear();
  return status;
}

}  // namespace fw::jpeg
