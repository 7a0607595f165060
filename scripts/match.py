#!/usr/bin/env python3
"""Plays tavimor's two engines against each other through the NBoard protocol.

Each engine runs as a tavimor-nboard process of its own. The referee keeps
the game with rules of its own, asks the side to move for its move with "go",
checks that the move is legal (a pass only when there is no legal move), and
tells both engines with "move". After every move it pings both engines and
stops at any "status error" line. The engines alternate colours from game to
game. At the end it prints each game's result, the totals and each engine's
moves per second (wall time from "go" to its answer).

The engines run in the working directory given with --dir (default: a fresh
temporary one), so a tavimor.dat there gives the neural engine its network;
the engines only read it.

Usage: scripts/match.py [--games N] [--nboard PATH] [--dir DIR]
                        [--engines neuro traditional]
Not part of the test suite: a match of 10 games takes minutes.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

DIRECTIONS = [(-1, -1), (-1, 0), (-1, 1), (0, -1), (0, 1), (1, -1), (1, 0), (1, 1)]
BLACK, WHITE = 1, 2


class RefereeError(Exception):
    pass


def start_board():
    board = [[0] * 8 for _ in range(8)]  # board[y][x]; x from the letter, y from the digit
    board[3][3] = board[4][4] = WHITE
    board[3][4] = board[4][3] = BLACK
    return board


def flips(board, colour, x, y):
    """The stones that a stone of colour on (x, y) turns; none when illegal."""
    if board[y][x] != 0:
        return []
    other = 3 - colour
    turned = []
    for dx, dy in DIRECTIONS:
        line = []
        cx, cy = x + dx, y + dy
        while 0 <= cx < 8 and 0 <= cy < 8 and board[cy][cx] == other:
            line.append((cx, cy))
            cx, cy = cx + dx, cy + dy
        if line and 0 <= cx < 8 and 0 <= cy < 8 and board[cy][cx] == colour:
            turned += line
    return turned


def legal_moves(board, colour):
    return {name(x, y) for y in range(8) for x in range(8) if flips(board, colour, x, y)}


def name(x, y):
    return "abcdefgh"[x] + str(y + 1)


def ggf_start():
    cells = "".join("-*O"[v] for row in start_board() for v in row)
    return "(;GM[Othello]PC[tavimor match]BO[8 %s *];)" % cells


class Engine:
    def __init__(self, nboard, think, workdir):
        self.think = think
        self.proc = subprocess.Popen([nboard, "-think", think], cwd=workdir, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.moves = 0
        self.seconds = 0.0
        self.pings = 0
        self.send("nboard 2")
        self.send("set depth 5")
        self.name = self.expect("set myname ")[len("set myname "):]

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def expect(self, prefix):
        """Reads lines up to the one that starts with prefix; fails on an error status."""
        while True:
            line = self.proc.stdout.readline()
            if not line:
                raise RefereeError("%s ended before answering %r" % (self.think, prefix))
            line = line.rstrip("\r\n")
            if line.startswith("status error"):
                raise RefereeError("%s: %s" % (self.think, line))
            if line.startswith(prefix):
                return line

    def sync(self):
        self.pings += 1
        self.send("ping %d" % self.pings)
        self.expect("pong %d" % self.pings)

    def go(self):
        start = time.monotonic()
        self.send("go")
        answer = self.expect("=== ")
        self.seconds += time.monotonic() - start
        self.moves += 1
        return answer[4:].split("/")[0].strip().lower()

    def close(self):
        try:
            self.send("quit")
        except (BrokenPipeError, OSError):
            pass
        self.proc.wait(timeout=30)


def play_game(black, white):
    board = start_board()
    for engine in (black, white):
        engine.send("set game " + ggf_start())
        engine.sync()
    colour = BLACK
    moves = []
    while True:
        legal = legal_moves(board, colour)
        if not legal and not legal_moves(board, 3 - colour):
            break
        engine = black if colour == BLACK else white
        move = engine.go()
        if not legal:
            if move != "pa":
                raise RefereeError("%s played %s but had to pass" % (engine.think, move))
        elif move not in legal:
            raise RefereeError("%s played %s, not one of %s" % (engine.think, move, " ".join(sorted(legal))))
        else:
            x, y = "abcdefgh".index(move[0]), int(move[1]) - 1
            for fx, fy in flips(board, colour, x, y):
                board[fy][fx] = colour
            board[y][x] = colour
        moves.append(move)
        for e in (black, white):
            e.send("move " + move)
            e.sync()
        colour = 3 - colour
    count = {c: sum(row.count(c) for row in board) for c in (BLACK, WHITE)}
    return count[BLACK], count[WHITE], moves


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--games", type=int, default=10)
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--nboard", default=os.path.join(here, "..", "build", "release", "tavimor-nboard"))
    parser.add_argument("--dir", default=None, help="working directory of the engines")
    parser.add_argument("--engines", nargs=2, default=["neuro", "traditional"], metavar="TYPE")
    args = parser.parse_args()

    workdir = args.dir or tempfile.mkdtemp(prefix="tavimor-match-")
    a = Engine(args.nboard, args.engines[0], workdir)
    b = Engine(args.nboard, args.engines[1], workdir)
    score = {a: [0, 0, 0, 0], b: [0, 0, 0, 0]}  # wins, draws, losses, discs for - against
    try:
        for game in range(args.games):
            black, white = (a, b) if game % 2 == 0 else (b, a)
            nb, nw, moves = play_game(black, white)
            print("game %d: %s (black) %d - %d %s (white)  %s" % (game + 1, black.name, nb, nw, white.name,
                                                                  "".join(moves)), flush=True)
            for engine, mine, theirs in ((black, nb, nw), (white, nw, nb)):
                score[engine][0 if mine > theirs else 1 if mine == theirs else 2] += 1
                score[engine][3] += mine - theirs
    except RefereeError as e:
        print("referee: %s" % e, file=sys.stderr)
        return 1
    finally:
        a.close()
        b.close()
    for engine in (a, b):
        w, d, l, diff = score[engine]
        rate = engine.moves / engine.seconds if engine.seconds > 0 else float("inf")
        print("%s: %d wins, %d draws, %d losses, disc difference %+d; %d moves in %.1f s, %.2f moves/s"
              % (engine.name, w, d, l, diff, engine.moves, engine.seconds, rate))
    return 0


if __name__ == "__main__":
    sys.exit(main())
