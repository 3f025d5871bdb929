// Decoding and encoding the GIF test corpus (plus two larger generated
// pictures) with our codec and with giflib in the same run; prints our time
// over giflib's for each.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "framework/streams.h"
#include "gif/gif_image.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes SaveGif(gif::TGIFImage& image) {
  fw::TMemoryStream out;
  image.SaveToStream(out);
  const auto& b = out.Bytes();
  return Bytes(reinterpret_cast<const std::uint8_t*>(b.data()), reinterpret_cast<const std::uint8_t*>(b.data()) + b.size());
}

// A w x h picture of 256 colours: smooth gradients with some noise, the kind
// of content a photo reduced to a palette has.
Bytes MakePicture(int w, int h, int frames) {
  gif::TGIFImage image;
  image.Header().SetWidth(static_cast<std::uint16_t>(w));
  image.Header().SetHeight(static_cast<std::uint16_t>(h));
  for (int i = 0; i < 256; ++i) image.GlobalColorMap().Add(static_cast<gif::TColorValue>(i * 0x010101));
  std::mt19937 rng(7);
  for (int f = 0; f < frames; ++f) {
    auto frame = std::make_unique<gif::TGIFSubImage>(&image);
    frame->SetSize(w, h, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        frame->Scanline(y)[x] = static_cast<std::uint8_t>((x / 3 + y / 5 + f * 9 + (rng() % 8 == 0 ? rng() % 4 : 0)) & 255);
    image.Add(std::move(frame));
  }
  return SaveGif(image);
}

std::vector<Bytes>& Corpus() {
  static std::vector<Bytes> files = [] {
    std::vector<Bytes> out;
    const auto dir = std::filesystem::path(__FILE__).parent_path().parent_path() / "tests" / "data" / "gif";
    std::vector<std::filesystem::path> paths;
    for (auto& e : std::filesystem::directory_iterator(dir))
      if (e.path().extension() == ".gif") paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    for (auto& p : paths) {
      std::ifstream in(p, std::ios::binary);
      out.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    out.push_back(MakePicture(1024, 768, 1));
    out.push_back(MakePicture(320, 240, 10));
    return out;
  }();
  return files;
}

std::int64_t CorpusBytes() {
  std::int64_t n = 0;
  for (auto& f : Corpus()) n += static_cast<std::int64_t>(f.size());
  return n;
}

std::vector<std::unique_ptr<fw::TMemoryStream>> Streams() {
  std::vector<std::unique_ptr<fw::TMemoryStream>> s;
  for (auto& f : Corpus()) {
    auto m = std::make_unique<fw::TMemoryStream>();
    m->WriteBuffer(f.data(), static_cast<std::int64_t>(f.size()));
    s.push_back(std::move(m));
  }
  return s;
}

struct MemoryInput {
  const Bytes* data;
  std::size_t pos;
};

int ReadMemory(GifFileType* g, GifByteType* buf, int len) {
  auto* in = static_cast<MemoryInput*>(g->UserData);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(len), in->data->size() - in->pos);
  std::memcpy(buf, in->data->data() + in->pos, n);
  in->pos += n;
  return static_cast<int>(n);
}

int WriteMemory(GifFileType* g, const GifByteType* buf, int len) {
  auto* out = static_cast<Bytes*>(g->UserData);
  out->insert(out->end(), buf, buf + len);
  return len;
}

void BM_DecodeOurs(benchmark::State& state) {
  auto streams = Streams();
  for (auto _ : state) {
    for (auto& s : streams) {
      s->SetPosition(0);
      gif::TGIFImage image;
      image.LoadFromStream(*s);
      benchmark::DoNotOptimize(image.Images().Count());
    }
  }
  state.SetBytesProcessed(state.iterations() * CorpusBytes());
}

void BM_DecodeGiflib(benchmark::State& state) {
  for (auto _ : state) {
    for (auto& f : Corpus()) {
      MemoryInput in{&f, 0};
      int err = 0;
      GifFileType* g = DGifOpen(&in, ReadMemory, &err);
      DGifSlurp(g);
      benchmark::DoNotOptimize(g->ImageCount);
      DGifCloseFile(g, &err);
    }
  }
  state.SetBytesProcessed(state.iterations() * CorpusBytes());
}

void BM_EncodeOurs(benchmark::State& state) {
  std::vector<std::unique_ptr<gif::TGIFImage>> images;
  for (auto& s : Streams()) {
    s->SetPosition(0);
    images.push_back(std::make_unique<gif::TGIFImage>());
    images.back()->LoadFromStream(*s);
  }
  for (auto _ : state) {
    for (auto& image : images) {
      fw::TMemoryStream out;
      image->SaveToStream(out);
      benchmark::DoNotOptimize(out.Size());
    }
  }
  state.SetBytesProcessed(state.iterations() * CorpusBytes());
}

// giflib writes the same frames through its line interface, the rows of an
// interlaced frame in pass order as it expects them.
void BM_EncodeGiflib(benchmark::State& state) {
  std::vector<GifFileType*> slurped;
  std::vector<MemoryInput> inputs(Corpus().size());
  for (std::size_t i = 0; i < Corpus().size(); ++i) {
    inputs[i] = {&Corpus()[i], 0};
    int err = 0;
    GifFileType* g = DGifOpen(&inputs[i], ReadMemory, &err);
    DGifSlurp(g);
    slurped.push_back(g);
  }
  Bytes row;
  for (auto _ : state) {
    for (GifFileType* src : slurped) {
      Bytes out;
      int err = 0;
      GifFileType* g = EGifOpen(&out, WriteMemory, &err);
      EGifSetGifVersion(g, true);
      EGifPutScreenDesc(g, src->SWidth, src->SHeight, src->SColorResolution, src->SBackGroundColor, src->SColorMap);
      for (int i = 0; i < src->ImageCount; ++i) {
        const SavedImage& s = src->SavedImages[i];
        for (int e = 0; e < s.ExtensionBlockCount; ++e) {
          const ExtensionBlock& b = s.ExtensionBlocks[e];
          if (b.Function != CONTINUE_EXT_FUNC_CODE) {
            if (e > 0) EGifPutExtensionTrailer(g);
            EGifPutExtensionLeader(g, b.Function);
          }
          EGifPutExtensionBlock(g, b.ByteCount, b.Bytes);
        }
        if (s.ExtensionBlockCount > 0) EGifPutExtensionTrailer(g);
        const GifImageDesc& d = s.ImageDesc;
        EGifPutImageDesc(g, d.Left, d.Top, d.Width, d.Height, d.Interlace, d.ColorMap);
        row.resize(static_cast<std::size_t>(d.Width));
        auto put = [&](int y) {
          std::memcpy(row.data(), s.RasterBits + static_cast<std::size_t>(y) * static_cast<std::size_t>(d.Width), row.size());
          EGifPutLine(g, row.data(), d.Width);
        };
        if (d.Interlace) {
          const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
          for (int p = 0; p < 4; ++p)
            for (int y = start[p]; y < d.Height; y += step[p]) put(y);
        } else {
          for (int y = 0; y < d.Height; ++y) put(y);
        }
      }
      EGifCloseFile(g, &err);
      benchmark::DoNotOptimize(out.size());
    }
  }
  for (GifFileType* g : slurped) {
    int err = 0;
    DGifCloseFile(g, &err);
  }
  state.SetBytesProcessed(state.iterations() * CorpusBytes());
}

BENCHMARK(BM_DecodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeGiflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeGiflib)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration for the closing ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && r.iterations > 0)
        times[r.benchmark_name()] = r.real_accumulated_time / static_cast<double>(r.iterations);
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char* what, const char* ours, const char* theirs) {
    if (reporter.times.count(ours) && reporter.times.count(theirs) && reporter.times[theirs] > 0)
      std::cout << what << ": our time / giflib's = " << reporter.times[ours] / reporter.times[theirs] << "\n";
  };
  ratio("decode", "BM_DecodeOurs", "BM_DecodeGiflib");
  ratio("encode", "BM_EncodeOurs", "BM_EncodeGiflib");
  benchmark::Shutdown();
  return 0;
}
