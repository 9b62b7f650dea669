// Packed text tiles: the input is read as a gzip stream by the point source (from a file, with
// the height query's line rule, with the read-ahead thread) and by the stream itself (from memory
// in small uneven pieces, without it). zlib is the reference: where it inflates the input
// as a complete stream of members, every reader must deliver exactly its bytes and lines; where
// it refuses, every reader must report the damage, and what came before must agree with zlib.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "FuzzInput.h"
#include "formats/GzipStrom.h"
#include "formats/PunktQuelle.h"

namespace {

using namespace tervalo;

// zlib's view: members one after another; after the first, zero padding to the end is allowed
// (as gzip allows it); anything else must be a further member. False when the stream is damaged.
bool ZlibInflate(const uint8_t* data, size_t size, std::string& out) {
    size_t pos = 0;
    bool erstes = true;
    std::vector<unsigned char> buf(1 << 16);
    for (;;) {
        if (!erstes) {
            if (pos == size) return true;
            if (data[pos] == 0) return std::all_of(data + pos, data + size, [](uint8_t b) { return b == 0; });
        }
        erstes = false;
        z_stream z{};
        if (inflateInit2(&z, 16 + 15) != Z_OK) std::abort();
        z.next_in = const_cast<Bytef*>(data + pos);
        z.avail_in = static_cast<uInt>(size - pos);
        int r;
        do {
            z.next_out = buf.data();
            z.avail_out = static_cast<uInt>(buf.size());
            r = inflate(&z, Z_NO_FLUSH);
            out.append(reinterpret_cast<char*>(buf.data()), buf.size() - z.avail_out);
        } while (r == Z_OK);
        pos = size - z.avail_in;
        inflateEnd(&z);
        if (r != Z_STREAM_END) return false;
    }
}

// Bytes from memory in pieces of a fixed small size, so headers, trailers and member
// boundaries fall across reads.
class TSpeicher : public TByteQuelle {
public:
    TSpeicher(const uint8_t* d, size_t n, size_t stueck) : d_(d), n_(n), stueck_(stueck) {}
    std::size_t Read(char* dst, std::size_t max) override {
        const size_t k = std::min({max, stueck_, n_ - pos_});
        std::memcpy(dst, d_ + pos_, k);
        pos_ += k;
        return k;
    }
    uint64_t Size() const override { return n_; }

private:
    const uint8_t* d_;
    size_t n_, pos_ = 0, stueck_;
};

// Everything the stream delivers, read in uneven amounts; false when it reported damage.
bool Strom(const uint8_t* data, size_t size, bool voraus, std::string& out) {
    TGzipStrom s(std::make_unique<TSpeicher>(data, size, 1 + size % 7), "mem.gz", voraus);
    char buf[4099];
    size_t wunsch = 1;
    try {
        while (const size_t n = s.Read(buf, wunsch)) {
            out.append(buf, n);
            wunsch = (wunsch + 997) % sizeof buf + 1;  // 1 .. sizeof buf, uneven
        }
    } catch (const EGzipDefekt& e) {
        if (std::string(e.what()).find("mem.gz") == std::string::npos) std::abort();
        return false;
    }
    return true;
}

// A line as the query sees it.
struct TGelesen {
    std::string text;
    TBefund befund;
    double x, y, z;
    bool operator==(const TGelesen& o) const {
        return text == o.text && befund == o.befund && std::memcmp(&x, &o.x, sizeof x) == 0 &&
               std::memcmp(&y, &o.y, sizeof y) == 0 && std::memcmp(&z, &o.z, sizeof z) == 0;
    }
};

TGelesen Auswerten(std::string_view line) {
    TGelesen g{std::string(line), TBefund::Abgelehnt, 0, 0, 0};
    g.befund = TAbfrageZeilenRegel::Read(line, g.x, g.y, g.z);
    return g;
}

// The lines of unpacked bytes, read as a plain text file is read.
std::vector<TGelesen> Zeilen(const std::string& text) {
    std::vector<TGelesen> v;
    TZeilenLeser r(std::make_unique<TSpeicher>(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                                 text.size() + 1));
    std::string_view line;
    while (r.ReadLine(line)) v.push_back(Auswerten(line));
    return v;
}

bool IstPraefix(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    return a.compare(0, n, b, 0, n) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string ref;
    const bool heil = ZlibInflate(data, size, ref);

    {
        // Without the read-ahead thread here; the point source below reads with it.
        std::string got;
        const bool ok = Strom(data, size, false, got);
        if (ok != heil) std::abort();
        if (heil ? got != ref : !IstPraefix(got, ref)) std::abort();
    }

    // The point source decides by content; only a gzip signature takes the packed path.
    if (size < 2 || data[0] != 0x1F || data[1] != 0x8B) return 0;
    const std::string path = WriteFuzzInput("gzip", ".xyz.gz", data, size);
    std::vector<TGelesen> lines;
    bool ok = true;
    try {
        TPunktQuelle q(path);
        if (q.IsDbase()) std::abort();
        if (q.Open() != 0) std::abort();
        q.Read<TAbfrageZeilenRegel>([&](const auto& z) {
            if constexpr (requires { z.Text; }) {
                TGelesen g{std::string(z.Text), TBefund::Abgelehnt, 0, 0, 0};
                g.befund = z.Punkt(g.x, g.y, g.z);
                lines.push_back(std::move(g));
            } else {
                std::abort();  // a packed file is never a table
            }
        });
    } catch (const EGzipDefekt& e) {
        if (std::string(e.what()).find(path) == std::string::npos) std::abort();
        ok = false;
    }
    ::unlink(path.c_str());
    // Ctrl-Z ends the lines, but a packed stream is still checked to its end.
    if (ok != heil) std::abort();
    if (ok && !(lines == Zeilen(ref))) std::abort();
    return 0;
}
