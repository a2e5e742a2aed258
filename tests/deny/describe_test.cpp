// The words of a job's result: the window's boxes and tarvel-ctl's lines come from here, so the
// rules that differ by case (the access hint, the repeat sentence, singular and plural) are
// checked once for both.
#include "deny/describe.h"

#include <gtest/gtest.h>

using deny::Direction;
using deny::Repeat;

namespace {

const std::string kHead =
    "Es sind Fehler aufgetreten!\r\nBitte benachrichtigen Sie den Administrator mit der Meldung:\r\n"
    "  In der Gruppe G.X\r\n  und/oder bei zugehörigen Usern\r\n  sind möglicherweise Inkonsistenzen aufgetreten.";

deny::JobResult failed(int32_t first, int32_t last, size_t halfDone = 0, bool timedOut = false) {
    deny::JobResult r;
    r.toChange = 1500;
    r.changed = 1234;
    r.firstFailure = first;
    r.lastFailure = last;
    r.halfDone = halfDone;
    r.timedOut = timedOut;
    return r;
}

}  // namespace

TEST(DescribeJob, BoxTextByCase) {
    deny::JobResult done;
    done.changed = 1234;
    done.toChange = 1234;
    done.unchanged = 2;
    deny::JobResult held;
    held.toChange = 1;
    held.throughGroups = {{"P.X", "H.X"}};
    deny::JobResult cancelled = done;
    cancelled.toChange = 3200;
    cancelled.cancelled = true;
    const struct {
        const char* edge;
        Direction direction;
        deny::JobResult result;
        Repeat repeat;
        deny::Outcome outcome;
        std::string box;
    } cases[] = {
        {"stop done", Direction::Stop, done, Repeat::Call, deny::Outcome::Done,
         "Gesperrt: 1.234 Benutzer, 2 waren schon gesperrt."},
        {"go done", Direction::Go, done, Repeat::Call, deny::Outcome::Done,
         "Freigegeben: 1.234 Benutzer, 2 waren nicht gesperrt."},
        {"cancel in the window", Direction::Stop, cancelled, Repeat::Press, deny::Outcome::Cancelled,
         "Abgebrochen.\r\n1.234 von 3.200 Benutzern wurden geändert.\r\nErneutes Drücken ändert die übrigen."},
        {"cancel on the command line", Direction::Go, cancelled, Repeat::Call, deny::Outcome::Cancelled,
         "Abgebrochen.\r\n1.234 von 3.200 Benutzern wurden geändert.\r\nErneutes Aufrufen ändert die übrigen."},
        {"refused stop: never the hint", Direction::Stop, failed(-672, -672), Repeat::Press, deny::Outcome::Failed, kHead},
        {"refused go: the hint after two line ends", Direction::Go, failed(-601, 672), Repeat::Press,
         deny::Outcome::Failed, kHead + "\r\n\r\nOder: Sie haben keine Berechtigung."},
        {"other failed go: the line ends alone", Direction::Go, failed(-672, -601), Repeat::Press,
         deny::Outcome::Failed, kHead + "\r\n\r\n"},
        {"one user half done", Direction::Stop, failed(-601, -601, 1), Repeat::Press, deny::Outcome::Failed,
         kHead + "\r\n1 Benutzer ist nur halb geändert.\r\nErneutes Drücken vervollständigt die Änderung."},
        {"time-out, many half done", Direction::Stop, failed(-659, -659, 1234, true), Repeat::Call,
         deny::Outcome::Failed,
         kHead + "\r\nDer Server hat nicht rechtzeitig geantwortet.\r\n1.234 Benutzer sind nur halb geändert.\r\n"
                 "Erneutes Aufrufen vervollständigt die Änderung."},
        {"go of a user held by another group: no inconsistency, that group named", Direction::Go, held, Repeat::Press,
         deny::Outcome::Failed, "P.X ist über die Gruppe H.X gesperrt und bleibt es: H.X ändern.\r\n\r\n"},
    };
    for (const auto& c : cases) {
        const deny::JobWords words = deny::describe(c.direction, c.result, "G.X", c.repeat);
        EXPECT_EQ(words.outcome, c.outcome) << c.edge;
        EXPECT_EQ(words.boxText(), c.box) << c.edge;
        EXPECT_EQ(words.caption, c.direction == Direction::Stop ? "Tarvel Internet-Stop" : "Tarvel Internet-Go") << c.edge;
    }
    EXPECT_EQ(deny::progressText(Direction::Stop, 1234, 1234567), "Internet-Stop: 1.234 von 1.234.567 Benutzern");
}
