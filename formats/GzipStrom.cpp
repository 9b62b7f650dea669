#include "formats/GzipStrom.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tervalo {

EGzipDefekt::EGzipDefekt(const std::string& path) : EInOutError(0, std::string(TextGzipDefekt) + ": " + path) {}

namespace {

constexpr std::size_t kEingabe = std::size_t{1} << 18;  // packed bytes per read
constexpr std::size_t kBlock = std::size_t{1} << 20;    // unpacked bytes per block handed on
constexpr int kBloecke = 3;                             // blocks in flight with read-ahead

// Inflates the members one after another; the decoding itself, without threads. ISA-L's
// igzip: the fastest streaming inflate in the archive, by the benchmark.
class TInflater {
public:
    TInflater(std::unique_ptr<TByteQuelle> gepackt, std::string path)
        : gepackt_(std::move(gepackt)), path_(std::move(path)), ein_(kEingabe) {
        isal_inflate_init(&st_);
        st_.next_in = ein_.data();
        st_.avail_in = 0;
    }

    // Fills dst with up to max unpacked bytes; 0 at the end of the stream. Damage or a read
    // error that comes after some bytes of this call is thrown by the next calls, so every
    // byte before it is handed on first.
    std::size_t Read(unsigned char* dst, std::size_t max) {
        if (fehler_) std::rethrow_exception(fehler_);
        std::size_t n = 0;
        try {
            Fuellen(dst, max, n);
        } catch (...) {
            if (n == 0) throw;
            fehler_ = std::current_exception();
        }
        return n;
    }

private:
    void Fuellen(unsigned char* dst, std::size_t max, std::size_t& n) {
        while (n < max && !ende_) {
            if (mitgliedAnfang_) {
                if (!NaechstesMitglied()) break;
                continue;
            }
            if (st_.avail_in == 0 && !eof_) Nachladen(0);
            if (imKopf_) {
                // The header is read here, not by isal_inflate: that one forgets the header's
                // flags between calls, so a header split across reads was misread.
                const int r = isal_read_gzip_header(&st_, &kopfDaten_);
                if (r == ISAL_DECOMP_OK)
                    imKopf_ = false;
                else if (r != ISAL_END_INPUT || eof_)
                    throw EGzipDefekt(path_);
                else if (st_.avail_in > 0)
                    Nachladen(st_.avail_in);
                continue;
            }
            const uint32_t vorherIn = st_.avail_in;
            st_.next_out = dst + n;
            st_.avail_out = static_cast<uint32_t>(std::min<std::size_t>(max - n, UINT32_MAX));
            const uint32_t vorherOut = st_.avail_out;
            const int r = isal_inflate(&st_);
            if (r < 0 || r == ISAL_NEED_DICT) throw EGzipDefekt(path_);
            n += vorherOut - st_.avail_out;
            if (st_.block_state == ISAL_BLOCK_FINISH) {
                mitgliedAnfang_ = true;
                continue;
            }
            // Nothing consumed, nothing produced, no more input: the stream ends inside a member.
            if (eof_ && st_.avail_in == 0 && st_.avail_in == vorherIn && st_.avail_out == vorherOut)
                throw EGzipDefekt(path_);
        }
    }

    // Moves the unread input to the front and reads behind it; the first `behalten` bytes
    // are what is left. At the end of the file eof_ is set.
    void Nachladen(std::size_t behalten) {
        if (behalten > 0 && st_.next_in != ein_.data()) std::memmove(ein_.data(), st_.next_in, behalten);
        std::size_t have = behalten;
        while (have < ein_.size() && !eof_) {
            const std::size_t got = gepackt_->Read(reinterpret_cast<char*>(ein_.data()) + have, ein_.size() - have);
            if (got == 0) eof_ = true;
            have += got;
            if (have >= 16) break;
        }
        st_.next_in = ein_.data();
        st_.avail_in = static_cast<uint32_t>(have);
    }

    // At a member's start: the end of the file, zero padding up to the end (gzip accepts it),
    // or the next member, whose header must carry no reserved flag. False at the end.
    bool NaechstesMitglied() {
        if (st_.avail_in < 4 && !eof_) Nachladen(st_.avail_in);
        if (st_.avail_in == 0) {
            if (!ersterGelesen_) throw EGzipDefekt(path_);  // not even one member
            ende_ = true;
            return false;
        }
        if (ersterGelesen_ && st_.next_in[0] == 0) {
            for (;;) {
                for (uint32_t i = 0; i < st_.avail_in; ++i)
                    if (st_.next_in[i] != 0) throw EGzipDefekt(path_);
                if (eof_) break;
                Nachladen(0);
                if (st_.avail_in == 0) break;
            }
            ende_ = true;
            return false;
        }
        if (st_.avail_in < 4 || st_.next_in[0] != 0x1F || st_.next_in[1] != 0x8B || (st_.next_in[3] & 0xE0) != 0)
            throw EGzipDefekt(path_);
        uint8_t* in = st_.next_in;
        const uint32_t avail = st_.avail_in;
        isal_inflate_reset(&st_);
        st_.crc_flag = ISAL_GZIP_NO_HDR_VER;  // the trailer is checked after the data
        st_.next_in = in;
        st_.avail_in = avail;
        isal_gzip_header_init(&kopfDaten_);
        imKopf_ = true;
        mitgliedAnfang_ = false;
        ersterGelesen_ = true;
        return true;
    }

    std::unique_ptr<TByteQuelle> gepackt_;
    std::string path_;
    std::vector<uint8_t> ein_;
    inflate_state st_{};
    isal_gzip_header kopfDaten_{};  // keeps the header's flags while it is read in pieces
    bool imKopf_ = false;           // the member's header is not read whole yet
    std::exception_ptr fehler_;  // thrown by every later call
    bool eof_ = false;
    bool ende_ = false;
    bool mitgliedAnfang_ = true;
    bool ersterGelesen_ = false;
};

}  // namespace

struct TGzipStrom::Impl {
    TInflater inflater;
    bool vorauslesen;
    // Read-ahead: the decoder thread fills the blocks in turn, the reader empties them in turn.
    struct Block {
        std::vector<unsigned char> daten;
        std::size_t laenge = 0;
    };
    Block bloecke[kBloecke];
    std::mutex m;
    std::condition_variable cv;
    int gefuellt = 0;      // blocks ready for the reader
    int schreibe = 0;      // next block the thread fills
    int lese = 0;          // block the reader takes from
    std::size_t pos = 0;   // bytes of the reader's block already handed on
    bool fertig = false;   // the thread reached the end or failed
    bool stop = false;     // the reader went away
    std::exception_ptr fehler;
    std::thread thread;

    Impl(std::unique_ptr<TByteQuelle> gepackt, std::string path, bool voraus)
        : inflater(std::move(gepackt), std::move(path)), vorauslesen(voraus) {
        if (!vorauslesen) return;
        for (Block& b : bloecke) b.daten.resize(kBlock);
        thread = std::thread([this] { Dekodieren(); });
    }

    ~Impl() {
        if (!thread.joinable()) return;
        {
            std::lock_guard<std::mutex> l(m);
            stop = true;
        }
        cv.notify_all();
        thread.join();
    }

    void Dekodieren() {
        try {
            for (;;) {
                {
                    std::unique_lock<std::mutex> l(m);
                    cv.wait(l, [&] { return stop || gefuellt < kBloecke; });
                    if (stop) return;
                }
                // The reader never touches a block it has not been handed.
                Block& b = bloecke[schreibe];
                b.laenge = inflater.Read(b.daten.data(), b.daten.size());
                std::lock_guard<std::mutex> l(m);
                if (b.laenge == 0) {
                    fertig = true;
                    cv.notify_all();
                    return;
                }
                schreibe = (schreibe + 1) % kBloecke;
                ++gefuellt;
                cv.notify_all();
            }
        } catch (...) {
            std::lock_guard<std::mutex> l(m);
            fehler = std::current_exception();
            fertig = true;
            cv.notify_all();
        }
    }

    std::size_t Read(unsigned char* dst, std::size_t max) {
        if (!vorauslesen) return inflater.Read(dst, max);
        std::unique_lock<std::mutex> l(m);
        cv.wait(l, [&] { return gefuellt > 0 || fertig; });
        if (gefuellt == 0) {
            if (fehler) std::rethrow_exception(fehler);
            return 0;
        }
        l.unlock();
        Block& b = bloecke[lese];
        const std::size_t n = std::min(max, b.laenge - pos);
        std::memcpy(dst, b.daten.data() + pos, n);
        pos += n;
        if (pos == b.laenge) {
            pos = 0;
            lese = (lese + 1) % kBloecke;
            l.lock();
            --gefuellt;
            cv.notify_all();
        }
        return n;
    }
};

TGzipStrom::TGzipStrom(std::unique_ptr<TByteQuelle> gepackt, std::string path, bool vorauslesen)
    : impl_(std::make_unique<Impl>(std::move(gepackt), std::move(path), vorauslesen)) {}

TGzipStrom::~TGzipStrom() = default;

std::size_t TGzipStrom::Read(char* dst, std::size_t max) {
    return impl_->Read(reinterpret_cast<unsigned char*>(dst), max);
}

}  // namespace tervalo
