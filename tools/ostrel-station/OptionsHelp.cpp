// The text of --help: the options, the station model, the summary's keys and how a station closes.

#include "Options.h"

#include <string>

namespace ostrel::sim {

std::string helpText()
{
    return R"(Usage: ostrel-station --ini PATH [options]
  or:  ostrel-station --server ADDR --port N [options]

Simulated salon stations for the Ostrel server. With --ini they find the server by discovery and
take its ports from PATH; with --server they connect to ADDR:N directly.

Where the server is:
  --ini PATH               read ServerTCP, ServerUDP and ClientUDP from section [Server]
  --tcp-port N, --port N   the server's TCP port (ServerTCP)
  --udp-port N             the server's discovery port (ServerUDP)
  --client-udp-port N      the port a station hears the answer on (ClientUDP)
  --discover ADDR          where discovery datagrams go (default 127.0.0.1); the server's
                           address is the source of the "Hi Client" answer
  --server ADDR            skip discovery and connect to ADDR

Stations:
  --stations N             how many stations (default 1); station k binds its own source
                           address, 127.0.0.2, 127.0.0.3, ... (up to 127.0.254.254)
  --first-address ADDR     the first station's address (default 127.0.0.2)
  --rate R                 reports per second per station (default 1)
  --speed K                the station clocks run K times faster (60: a 60-minute game lasts a
                           minute); Start and Finish are local day numbers on that clock
  --duration S             stop after S seconds (default: run until Ctrl-C)
  --customer-delay MIN[:MAX]  station-clock seconds until a waiting station's customer starts
                           (default 5:30)
  --reboot-delay S, --logoff-delay S, --poweroff-delay S
                           seconds a station stays away (defaults 3, 2, 20)
  --seed N                 seed of the random choices (default: from the clock)

Faults:
  --split                  send each report in two parts with a pause between them
  --one-byte               send each report one byte at a time
  --garbage P              put 1 to 16 random bytes before a report with probability P (never
                           the byte 02 that begins a report, so no report is hidden by them)
  --drop-after S           reset the connection S seconds after each connect, then reconnect
  --script FILE            timed steps, one per line "SECONDS ACTION [ARG...]": drop [N|all],
                           powercut [N|all] (the station goes silent without closing, and after
                           the reboot delay asks by discovery, so that the server closes the dead
                           connection; without discovery it is a drop),
                           split on|off, one-byte on|off, garbage P, stop, and
                           local N|all CODE [PRICE [MINUTES [TARIFF]]]: a command given at the
                           station itself (say, a customer starting paid time), obeyed as if the
                           server had sent it

Output:
  --log-commands           print every command received, hex and decoded, with the station
  --load                   benchmark mode: no event log, a summary at the end
  --summary                print the summary as key=value lines
  --quiet                  print nothing but the summary
  -h, --help               show this help and exit
  --version                show the version and exit

The station model (what a station does with each command):
  0 (free)          unloaded (code 0)
  1 (block)         closed (code 1)
  2 (start paid)    running (code 2): Start = now, Finish = now on each report, Price = the
                    command's Price (per minute), StatusText = the tariff; while a paid session
                    runs, a new start paid changes tariff and price and keeps Start
  3 (wait paid)     waiting (code 4); after the customer delay it starts paid time with the
                    remembered tariff, as for code 2
  5 (start game)    running with an allowance (code 5, Allowance = the command's Time) until the
                    allowance is used up, then finished (code 3) once, then closed (code 1);
                    while a game runs, a new start game sets its whole length (the server sends
                    used + left +/- the interval) and keeps Start
  6 (wait game)     waiting game (code 6); after the customer delay the game starts as for 5
  101 (kill apps)   nothing changes
  102 (reboot), 105 (log off), 103 (power off)
                    the connection drops at once and comes back after the delay; the station
                    then starts afresh, closed

A station starts closed (report code 1) and reports its state at the chosen rate, and at once
after every command and every change of its own. Any session that a command ends (free, block, a
wait, the other kind of start) is reported as finished (code 3) once, with its final figures, so
that the server logs it. A session cut off by a lost connection (a reboot, --drop-after, the
server closing it) is not: the station comes back closed, and the server, which logged the
session as "Reset", may resume it by command. Whenever a station (re)connects and discovery is
in use, it asks by discovery first. A server that is not there is retried with a growing pause
(0.5 s up to 10 s).

Summary keys: stations, seconds, reports_sent, bytes_sent, commands_received, commands_code_<C>,
bad_command_bytes, connects, reconnects, connect_failures, discovery_timeouts, power_cuts,
sessions_closed (the records the server logs: finished_reports + reset_closes), finished_reports
(code-3 reports sent whole: "Ok"), reset_closes (connections that ended while the last report
sent whole had code 2, 3 or 5: "Reset"), server_closes (connections the server ended while in
use: reports still unread then are lost, so the count may be off by them), unconfirmed_closes
(closes whose delivery could not be awaited), reports_skipped (not sent because the server did
not read).

A station's own close is orderly: it sends its FIN and waits (up to 2 s) for the server's close,
which comes once the server has read everything; a reset (drop) waits until the server's kernel has
acknowledged every byte. So every report counted reaches the server before its connection ends.
)";
}

} // namespace ostrel::sim
