#pragma once
// Heights for many points: every catalogued file (a folder entry: each of its tiles the
// call's region meets, chosen by its index) is read when points first need it and kept
// in memory in rows sorted by x; with a memory budget, the files used least recently are let
// go of and read again when later points need them. Each answer equals what a single height
// query at that point gives, bit for bit, store capacity and keep-the-first rule included.
//
// Threads: an engine holds no global state. Engines on different threads are independent;
// they may share the catalogue they are made from (each copies it), and the same files. One
// engine serves one call at a time (its tile cache, messages and working memory are its own);
// within a call it answers on its own threads, each with its own working memory, over loaded
// tiles that are never changed once read (a tile let go of stays alive while a reader holds
// it). The callbacks of a call are the caller's: `fertig` runs on any of those threads at once.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/TYPEN.h"
#include "query/Query.h"

namespace tervalo {

struct TBatchPunkt {
    double X = 0, Y = 0;
};

// What the answers must hold. Voll: everything a single query gives. The others are for
// callers that use only the nearest point (and the Shepard height): the counts of the square
// (Anzahl, each row's Gefiltert) are then left at 0 wherever a bound shows that the store
// cannot fill up, and with Naechster the Shepard height too; the nearest point, the Shepard
// height asked for, the rows with their messages and Berechnet stay exactly as in Voll.
// MitRangliste: everything, and the 20 nearest points as the query ranks them (from the
// store filled as the query fills it, so it costs the most).
enum class TUmfang { Voll, NaechsterUndShepard, Naechster, MitRangliste };

class TBatchAbfrage {
public:
    TBatchAbfrage(const TDateien& kat, double fangbreite, double potenz);
    ~TBatchAbfrage();
    TBatchAbfrage(const TBatchAbfrage&) = delete;
    TBatchAbfrage& operator=(const TBatchAbfrage&) = delete;

    // One point, on the calling thread.
    void Ask(double x, double y, THoehenAntwort& out);

    // Answers every point: fertig(k, antwort) is called once for each index k, from any of the
    // threads and in no fixed order. The points are taken in the order that reads each file as
    // seldom as possible: grouped by the catalogue entries they touch, in batches whose files
    // fit the memory budget. The files of a batch are read in parallel, then its points are
    // answered in parallel. fortschritt(n), when given, tells the calling thread now and then
    // how many points are answered. While the last batch is answered, the files the points
    // `danach` will need are read in the background, as far as the memory bound leaves room.
    using TFertig = std::function<void(std::size_t, const THoehenAntwort&)>;
    void AnswerAll(const std::vector<TBatchPunkt>& punkte, const TFertig& fertig,
                    const std::function<void(std::size_t)>& fortschritt = {},
                    const std::vector<TBatchPunkt>& danach = {});

    // What the following calls' answers hold (Voll unless set).
    void SetUmfang(TUmfang u);
    // Threads for reading and answering (0: one per core).
    void SetThreads(int n);
    // Number of files read so far (each distinct path at most once).
    int GeleseneDateien() const;
    // Number of readings so far: a file read again after it was let go of counts again.
    int Lesungen() const;
    // Keeps at most about that many bytes of points in memory (0: no bound). The files one
    // query needs stay loaded together even when they alone exceed it.
    void SetMemoryBound(std::size_t bytes);
    // One message for each file that could not be opened or read (a missing one too), naming
    // its path, since the last call; every file is reported once, when a point first needs it.
    // The folder entries' index messages (tiles that cannot be read, names that lie about
    // their extent, an index rebuilt) come here too, each once.
    std::vector<std::string> TakeMessages();
    // Bytes of points held now, and points held (for the bytes per point).
    std::size_t BelegteBytes() const;
    std::size_t GehaltenePunkte() const;
    // Files whose points are held now.
    std::size_t GehalteneKacheln() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tervalo
