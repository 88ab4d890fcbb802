"""The sixteen beat motions: each turns a style's score into three raw lanes (x, y, z).

Lanes come out unscaled; beat.py brings them to the row's reach. Two motions pin their
extremes instead: the step's strongest backbeat accent reaches exactly 1.0 and its steps to
the other side at most -0.92, and the bounce's strongest kick lands its downstroke at
exactly 0.92, so the catalogue's extremes sit on the strongest hits of the beat studies.

Lanes follow the catalogue's axes: x right, y down, z toward the viewer. A downstroke or a
drop moves toward +y, a lift toward -y.
"""

from __future__ import annotations

import math

from .score import DEPTH, FLUTTER, GHOST_VELOCITY, PERCUSSION, Score
from .lanes import (KEY_SLOPE, QUINTIC_PEAK, add_hits, add_notes, add_pushes, add_tremor,
                    alternate, gap_after, keyed, limit_keys, warped_phase, zeros)
from ..kit import PI, PIPS_PER_BEAT, TAU, add_bump

DEEPEST = -0.92
HIGHEST = 1.0
BAR = 256
# Backbeat hits closer than this are a roll, played on one side.
ROLL_GAP = 20


def _bars(score: Score) -> int:
    return max(1, score.period // BAR)


def _flutter_or(score: Score, *fallbacks: tuple[str, ...]) -> list[tuple[int, float]]:
    """Hits of the flutter lanes, or of the first fallback group a style has."""
    for names in (FLUTTER,) + fallbacks:
        hits = score.hits(*names)
        if hits:
            return hits
    return score.kicks()


def _add_low(lanes_amps, score: Score, kick_share: float, attack: float, release: float) -> None:
    """The bass line held and sliding as written, or the kicks at `kick_share` for a style
    without one; `lanes_amps` pairs each lane with its size. Crashes open a long swell."""
    p = score.period
    notes = score.held("bass", "log_drum")
    for lane, amp in lanes_amps:
        if notes:
            add_notes(lane, notes, p, amp, attack, release)
            add_hits(lane, score.hits("crash"), p, amp, attack, release)
        else:
            add_hits(lane, score.hits("crash") or score.kicks(), p,
                     amp * (1.0 if score.hits("crash") else kick_share), attack, release)


def _add_depth(lane: list[float], score: Score, amp: float, attack: float, release: float) -> None:
    """Bass and log drum swell one way, the notes above the root the other; crashes open a
    long swell."""
    period = score.period
    notes = score.held("bass", "log_drum")
    add_notes(lane, notes, period, amp, attack, release,
              sides=lambda i: -1.0 if notes[i].pitch > 0 else 1.0)
    add_hits(lane, score.hits("crash"), period, -0.7 * amp, attack * 1.5, release * 2.5)


def _clear_of(hits, score: Score, room: int) -> list[tuple[int, float]]:
    """The hits further than `room` pips from any strong backbeat, one per pip (the loudest),
    in pip order."""
    back = score.strong_backbeats()
    p = score.period
    at: dict[int, float] = {}
    for pip, vel in hits:
        if all(min((pip - b) % p, (b - pip) % p) > room for b in back):
            at[pip] = max(vel, at.get(pip, 0.0))
    return sorted(at.items())


def _spaced(hits, period: int, room: int = 16) -> list[tuple[int, float]]:
    """Hits at least `room` pips apart, seam included: of two closer hits the louder stays.

    A broad swing turns once per spaced hit; turning at each of two close hits would jerk.
    """
    out: list[tuple[int, float]] = []
    for hit in sorted(hits, key=lambda h: (-h[1], h[0])):
        if all(min((hit[0] - q) % period, (q - hit[0]) % period) >= room for q, _ in out):
            out.append(hit)
    return sorted(out)


def _ghosts(score: Score) -> list[tuple[int, float]]:
    return [h for h in score.lanes.get("snare", ()) if h[1] < GHOST_VELOCITY]


def _accents(score: Score) -> list[tuple[int, float]]:
    """The backbeat without its ghosts, which the motions answer as ghosts."""
    return [h for h in score.backbeat() if h[1] >= GHOST_VELOCITY]


def _add_ghost_flicks(lane: list[float], score: Score, amp: float) -> None:
    """Ghost notes flick at a set size, every one the same way: quiet, but deliberately
    placed."""
    add_hits(lane, _ghosts(score), score.period, lambda i, v: amp, 5, 12)


# The side each voice answers on where a motion places voices rather than hits: snare and
# clap apart, the rim with the snare, the percussion spread about the centre.
SIDE = {"snare": 1.0, "clap": -1.0, "rim": 1.0, "tom_high": -1.0, "tom_mid": 1.0,
        "tom_low": 1.0, "conga": -1.0, "bell": 1.0, "clave": -1.0, "perc": -1.0}
BACK = ("snare", "clap", "rim")


def _placed(score: Score, hits, names=PERCUSSION + BACK):
    """Sides for `hits` (for add_hits): each hit on the side of its loudest voice, so a hit
    recurring with the same voices lands on the same side."""
    side: dict[int, float] = {}
    loudest: dict[int, float] = {}
    for name in names:
        for pip, vel in score.lanes.get(name, ()):
            if vel > loudest.get(pip, 0.0):
                loudest[pip], side[pip] = vel, SIDE[name]
    return lambda i: side.get(hits[i][0], 1.0)


def bounce(score: Score):
    """Downstrokes land on the kicks; side accents sway x; bass and crash breathe in depth."""
    p = score.period
    kicks = score.kicks()
    top = max(v for _, v in kicks)
    # Sizes below are heights above the downstroke; keys are placed with y pointing down.
    keys = []
    for i, (pip, vel) in enumerate(kicks):
        keys.append((pip, -DEEPEST * vel / top))
        gap = gap_after(kicks, i, p)
        a1 = -DEEPEST * vel / top
        a2 = -DEEPEST * kicks[(i + 1) % len(kicks)][1] / top
        # The rebound rises with the room before the next kick, as high as the slope allows.
        room = KEY_SLOPE * gap / QUINTIC_PEAK
        lift = min(0.3 * vel / top * min(1.0, gap / PIPS_PER_BEAT), (room - a1 - a2) / 2)
        if lift > max(-a1, -a2) + 0.01:
            rise = (lift + a1) / KEY_SLOPE * QUINTIC_PEAK
            fall = (lift + a2) / KEY_SLOPE * QUINTIC_PEAK
            keys.append((pip + rise + 0.4 * (gap - rise - fall), -lift))
    ys = keyed(p, [(k % p, v) for k, v in keys])

    # Backbeats sway to their voice's side; ghosts and percussion flick smaller, and keep
    # clear of a backbeat so as not to pull its accent off its hit. Ghosts flick against
    # the snare.
    xs = zeros(p)
    back = _accents(score)
    add_hits(xs, back, p, 0.62, 10, 28, sides=_placed(score, back))
    light = _clear_of(score.percussion(), score, 16)
    add_hits(xs, light, p, 0.2, 5, 12, sides=_placed(score, light))
    ghosts = _clear_of(_ghosts(score), score, 12)
    add_hits(xs, ghosts, p, lambda i, v: -0.35, 6, 12)
    zs = zeros(p)
    _add_depth(zs, score, 0.5, 8, 40)
    return xs, ys, zs


def step(score: Score):
    """Kicks and backbeats step alternately left and right; the backbeat steps furthest."""
    p = score.period
    kicks = score.kicks()
    back = score.backbeat()
    if not back:
        back, kicks = kicks, []
    back_top = max(v for _, v in back)
    roles: dict[int, tuple[float, float]] = {}
    # Kick steps are sized against the loudest backbeat, so the balance of the two shows.
    for pip, vel in kicks:
        roles[pip] = (min(0.5 * vel / back_top, 0.8), 2.0 + vel)
    # Ghost notes do not step; they lift a little (below).
    for pip, vel in back:
        if vel >= GHOST_VELOCITY:
            roles[pip] = (vel / back_top, 3.0 + vel)
    pips = sorted(roles)
    # Hits alternate sides; a quick run of backbeat hits (a roll) stays on its side and
    # pulses outward hit by hit, since no step could cross over and back that fast.
    rolled = set(pip for pip, _ in back)
    sides, side = [], 1
    for i, pip in enumerate(pips):
        if i and not (pip - pips[i - 1] < ROLL_GAP and pip in rolled and pips[i - 1] in rolled):
            side = -side
        sides.append(side)
    strongest = max(range(len(pips)), key=lambda i: roles[pips[i]][1])
    polarity = sides[strongest]
    keys = []
    for i, pip in enumerate(pips):
        size, priority = roles[pip]
        right = sides[i] == polarity
        keys.append([pip, size * HIGHEST if right else size * DEEPEST, priority])
    for i in range(len(keys)):
        a, b = keys[i - 1], keys[i]
        if (a[1] > 0) == (b[1] > 0):
            # Two steps to one side: between them pass through the centre, or in a roll
            # ease back only part of the way.
            gap = (b[0] - a[0]) % p or p
            back_off = 0.0 if gap >= ROLL_GAP else 0.6 * min(abs(a[1]), abs(b[1]))
            keys.append([(a[0] + gap / 2) % p, math.copysign(back_off, a[1]), 0.0])
    keys.sort()
    limit_keys(keys, p)
    xs = keyed(p, [(k[0], k[1]) for k in keys])

    # Each hit has one answer in y, the same wherever it recurs: kicks drop, the backbeat
    # lifts, ghosts and percussion lift a little. A backbeat played with a kick, or on a rim,
    # lifts as the backbeat only, as it steps as the backbeat in x.
    ys = zeros(p)
    strong = [h for h in back if h[1] >= GHOST_VELOCITY]
    taken = {pip for pip, _ in strong}
    add_hits(ys, [h for h in kicks if h[0] not in taken], p, 0.3, 8, 20)
    add_hits(ys, strong, p, -0.26, 8, 24)
    add_hits(ys, [h for h in back if h[1] < GHOST_VELOCITY], p, lambda i, v: -0.4, 6, 14)
    add_hits(ys, [h for h in score.hits(*PERCUSSION) if h[0] not in taken], p, -0.22, 6, 14)
    zs = zeros(p)
    _add_depth(zs, score, 0.45, 6, 30)
    return xs, ys, zs


def orbit(score: Score):
    """Events hurry the orbit and widen it; every lane but the kick writes depth, the ghosts
    against the backbeat."""
    p = score.period
    weighted = score.weighted()
    theta = warped_phase(p, _bars(score), weighted, 2.0, 12)
    radius = [0.5] * p
    add_hits(radius, weighted, p, 0.3, 6, 24)
    xs = [r * math.cos(t) for r, t in zip(radius, theta)]
    ys = [-0.85 * r * math.sin(t) for r, t in zip(radius, theta)]
    zs = zeros(p)
    add_hits(zs, score.hits(*FLUTTER), p, 0.25, 4, 12)
    add_hits(zs, score.hits(*PERCUSSION), p, -0.35, 6, 20)
    add_hits(zs, [h for h in score.hits("snare", "clap") if h[1] >= GHOST_VELOCITY], p, 0.45,
             8, 30)
    _add_depth(zs, score, -0.5, 10, 48)
    _add_ghost_flicks(zs, score, -0.35)
    return xs, ys, zs


def glide(score: Score):
    """A slow phrase path over the whole loop, with bass excursions down and into depth."""
    p = score.period
    theta = warped_phase(p, 1, score.weighted(), 2.4, 20)
    xs = [math.sin(t) for t in theta]
    ys = [-0.55 * math.sin(2 * t + 0.6) for t in theta]
    zs = [0.5 * math.cos(t) for t in theta]
    _add_low(((zs, -0.45), (ys, 0.25)), score, 0.5, 12, 56)
    back = _accents(score)
    add_hits(xs, back, p, 0.15, 10, 30, sides=_placed(score, back))
    light = score.percussion()
    add_hits(ys, light, p, -0.22, 8, 24)
    add_hits(zs, light, p, 0.15, 8, 24, sides=_placed(score, light))
    _add_ghost_flicks(xs, score, 0.35)
    _add_ghost_flicks(zs, score, 0.35)
    return xs, ys, zs


def surge(score: Score):
    """Kicks thrust forward through depth, the backbeat lifts, hats add detail sideways."""
    p = score.period
    kicks = score.kicks()
    zs = zeros(p)
    add_hits(zs, kicks, p, 0.7, 12, 36)
    # A kick under the backbeat lifts with it rather than dropping against it.
    ys = zeros(p)
    back = _accents(score)
    taken = {pip for pip, _ in back}
    add_hits(ys, back, p, -0.55, 10, 28)
    add_hits(ys, [h for h in kicks if h[0] not in taken], p, 0.2, 8, 20)
    xs = zeros(p)
    for pip, vel in score.hits(*FLUTTER):
        add_tremor(xs, pip, 0.12 * vel, 16, 1.5)
    light = score.percussion()
    add_hits(xs, light, p, 0.25, 6, 18, sides=_placed(score, light))
    # Full kicks lean one way sideways and softer ones the other.
    add_hits(xs, kicks, p, 0.15, 8, 24, sides=lambda i: 1.0 if kicks[i][1] >= 0.8 else -1.0)
    _add_depth(zs, score, -0.25, 10, 40)
    # Ghosts drop a little and draw back, against the backbeat's lift and the kicks' thrust.
    _add_ghost_flicks(ys, score, 0.3)
    _add_ghost_flicks(zs, score, -0.25)
    return xs, ys, zs


def recoil(score: Score):
    """The backbeat shoves sideways, kicks counter downward, a delayed echo pulls back."""
    p = score.period
    back = score.backbeat_or_kicks()
    xs = zeros(p)
    add_hits(xs, back, p, 0.65, 12, 40)
    ys = zeros(p)
    add_hits(ys, score.kicks(), p, 0.5, 14, 28)
    zs = zeros(p)
    echo = [((pip + 24) % p, vel) for pip, vel in back]
    echo.sort()
    add_hits(zs, echo, p, -0.45, 12, 40)
    add_hits(xs, echo, p, -0.2, 12, 40)
    add_hits(ys, score.percussion(), p, -0.18, 6, 16)
    for pip, vel in score.hits(*FLUTTER):
        add_tremor(ys, pip, -0.08 * vel, 12, 1.5)
    _add_depth(zs, score, 0.3, 10, 40)
    return xs, ys, zs


def flutter(score: Score):
    """A wide kick-to-backbeat arc with hat and shaker tremors riding on it."""
    p = score.period
    kicks = score.kicks()
    marks: dict[int, float] = {pip: -0.55 * vel for pip, vel in kicks}
    # Ghosts flick (below) rather than bend the arc.
    back = _accents(score)
    for pip, vel in back:
        marks[pip] = 0.55 * vel
    if not back:
        # Without a backbeat the arc swings out and back between kicks, every kick at one end.
        for i, (pip, vel) in enumerate(kicks):
            marks.setdefault((pip + gap_after(kicks, i, p) // 2) % p, 0.55 * vel)
    spaced = _spaced([(pip, abs(v)) for pip, v in marks.items()], p)
    keys = [[pip, marks[pip], abs(marks[pip])] for pip, _ in spaced]
    limit_keys(keys, p)
    xs = keyed(p, [(k[0], k[1]) for k in keys])
    # The arc rises toward its kick and backbeat ends.
    ys = [0.2 - 0.45 * (x / 0.55) ** 2 for x in xs]
    zs = zeros(p)
    for pip, vel in _flutter_or(score, PERCUSSION):
        add_tremor(ys, pip, -0.12 * vel, 12, 2)
        add_tremor(zs, pip, 0.2 * vel, 16, 1.5)
    _add_depth(zs, score, 0.25, 12, 48)
    _add_ghost_flicks(ys, score, -0.3)
    _add_ghost_flicks(zs, score, 0.25)
    return xs, ys, zs


def _lows(score: Score) -> list[tuple[int, float, int]]:
    """(pip, weight, length) of the low events: bass and log-drum notes (a higher note
    weighs less) and crashes, or the kicks for a style without them."""
    lows = {n.pip: (n.velocity * (1.0 - n.pitch / 48.0), n.length)
            for n in score.held("bass", "log_drum")}
    for pip, vel in score.hits("crash"):
        if vel > lows.get(pip, (0.0, 0))[0]:
            lows[pip] = (vel, 0)
    if not lows:
        lows = {pip: (vel, 0) for pip, vel in score.kicks()}
    return sorted((pip, w, n) for pip, (w, n) in lows.items())


# Plunges of the dive are at least this far apart; the heaviest low of each stretch leads one.
PLUNGE_ROOM = 96


def dive(score: Score):
    """Bass plunges broadly into depth and surfaces again before the next plunge; kicks and
    backbeat swing a counterweight side to side."""
    p = score.period
    lows = _lows(score)
    held = {pip: n for pip, _, n in lows}
    leads = _spaced([(pip, w) for pip, w, _ in lows], p, PLUNGE_ROOM)
    plunge = zeros(p)
    for i, (pip, w) in enumerate(leads):
        # The dive lands on the note, stays down while it holds and is back at the surface
        # well before the next plunge.
        gap = gap_after(leads, i, p)
        rise = min(0.5 * gap, max(40.0, held[pip] + 16.0))
        fall = min(24.0, 0.25 * (gap_after(leads, i - 1, p)))
        add_hits(plunge, [(pip, w)], p, -0.7, fall, rise)
    zs = plunge
    # The plunge drops as it goes into depth.
    ys = [-0.45 * z for z in plunge]
    # Only kicks and full backbeats swing the counterweight: a swing to every ghost or
    # percussion hit would shake rather than sway.
    back = [h for h in score.backbeat() if h[1] >= GHOST_VELOCITY]
    drums = _spaced(dict(score.kicks() + back).items(), p)
    xs = zeros(p)
    add_hits(xs, drums, p, 0.4, 16, 36, sides=alternate)
    # The backbeat, percussion and ghosts each lift, the same way wherever they recur.
    add_hits(ys, back, p, -0.2, 8, 24)
    add_hits(ys, _clear_of(score.hits(*PERCUSSION), score, 8), p, -0.15, 5, 12)
    add_hits(ys, _clear_of(_ghosts(score), score, 8), p, lambda i, v: -0.3, 5, 12)
    return xs, ys, zs


def pendulum(score: Score):
    """A hanging arc, two beats a swing, whose swing widens and hurries with the score."""
    p = score.period
    weighted = score.weighted()
    theta = warped_phase(p, p // 128, weighted, 1.2, 16)
    amp = [0.45] * p
    add_hits(amp, weighted, p, 0.35, 12, 60)
    xs, ys, zs = [], [], []
    for a, t in zip(amp, theta):
        phi = 1.1 * a * math.sin(t)
        xs.append(0.85 * math.sin(phi))
        ys.append(0.55 - 0.85 * (1 - math.cos(phi)))
        zs.append(0.3 * a * math.cos(t))
    _add_ghost_flicks(zs, score, 0.15)
    return xs, ys, zs


def figure8(score: Score):
    """Two crossing lobes swell at the kicks; the backbeat lifts the crossing."""
    p = score.period
    kicks = score.kicks()
    theta = warped_phase(p, _bars(score), score.weighted(), 1.0, 16)
    size = [0.5] * p
    add_hits(size, kicks, p, 0.35, 10, 50)
    add_hits(size, score.percussion(), p, 0.15, 8, 30)
    xs = [a * math.sin(t) for a, t in zip(size, theta)]
    ys = [-0.55 * a * math.sin(2 * t) for a, t in zip(size, theta)]
    zs = [0.3 * a * math.cos(t) for a, t in zip(size, theta)]
    add_hits(ys, _accents(score), p, -0.3, 8, 28)
    add_hits(zs, _accents(score), p, 0.35, 8, 28)
    _add_depth(zs, score, -0.3, 10, 40)
    _add_ghost_flicks(xs, score, -0.35)
    return xs, ys, zs


def box(score: Score):
    """A softened square toured once a bar, hurrying where the rhythm weighs most; each
    percussion voice nudges it toward its own side."""
    p = score.period
    weighted = score.weighted()
    theta = warped_phase(p, _bars(score), weighted, 1.5, 10)
    edge = math.tanh(2.0)
    xs = [0.8 * math.tanh(2.0 * math.cos(t)) / edge for t in theta]
    ys = [-0.8 * math.tanh(2.0 * math.sin(t)) / edge for t in theta]
    zs = [0.35 * math.sin(2 * t) for t in theta]
    add_hits(zs, weighted, p, 0.2, 6, 20)
    light = score.percussion()
    add_hits(xs, light, p, 0.15, 6, 16, sides=_placed(score, light))
    _add_depth(zs, score, 0.25, 10, 40)
    _add_ghost_flicks(zs, score, 0.3)
    _add_ghost_flicks(ys, score, -0.2)
    return xs, ys, zs


def corkscrew(score: Score):
    """Two turns around a depth wave; percussion opens the radius."""
    p = score.period
    theta = warped_phase(p, 2, score.weighted(), 0.6, 16)
    radius = [0.35] * p
    # A rim on the backbeat answers as the backbeat (below), not by opening the radius.
    opening: dict[int, float] = {}
    for pip, vel in score.percussion() + score.hits(*FLUTTER):
        opening[pip] = max(vel, opening.get(pip, 0.0))
    add_hits(radius, sorted(opening.items()) or score.kicks(), p, 0.3, 8, 32)
    xs = [r * math.cos(t) for r, t in zip(radius, theta)]
    ys = [-r * math.sin(t) for r, t in zip(radius, theta)]
    zs = [0.55 * math.sin(TAU * k / p) for k in range(p)]
    _add_depth(zs, score, 0.2, 10, 40)
    back = _accents(score)
    add_hits(zs, back, p, lambda i, v: 0.25 * math.sqrt(v), 6, 20, sides=_placed(score, back))
    _add_ghost_flicks(zs, score, -0.3)
    _add_ghost_flicks(ys, score, 0.25)
    return xs, ys, zs


def spiral(score: Score):
    """Two turns that draw in to the centre and open out again, breathing with the hits."""
    p = score.period
    weighted = score.weighted()
    theta = warped_phase(p, 2, weighted, 1.6, 16)
    radius = [0.15 + 0.65 * (0.5 + 0.5 * math.cos(TAU * k / p)) for k in range(p)]
    add_hits(radius, weighted, p, 0.12, 6, 24)
    _add_ghost_flicks(radius, score, 0.3)
    xs = [r * math.cos(t) for r, t in zip(radius, theta)]
    ys = [-r * math.sin(t) for r, t in zip(radius, theta)]
    zs = [-0.55 * math.cos(TAU * k / p) for k in range(p)]
    add_hits(zs, _accents(score) or score.backbeat_or_kicks(), p, 0.2, 8, 28)
    _add_depth(zs, score, 0.25, 10, 40)
    _add_ghost_flicks(zs, score, 0.35)
    light = score.percussion()
    add_hits(zs, light, p, 0.18, 6, 20, sides=_placed(score, light))
    return xs, ys, zs


def slalom(score: Score):
    """S-shaped travel: down through the gates of an S and back up beside it each bar; kicks
    lift, the backbeat cuts back, depth leans against the swing."""
    p = score.period
    kicks = score.kicks()
    theta = warped_phase(p, _bars(score), score.weighted(), 1.4, 16)
    # y runs from the top to the bottom and back; x swings out one way in the upper half
    # and the other in the lower, and the way back runs a little beside the way down.
    ys = [-0.7 * math.cos(t) for t in theta]
    swing = [math.sin(PI * math.cos(t)) for t in theta]
    xs = [0.62 * s + 0.14 * math.sin(t) for s, t in zip(swing, theta)]
    zs = [-0.4 * s for s in swing]
    for pip, vel in _accents(score):
        add_bump(xs, pip, -math.copysign(0.25 * vel, xs[pip]), 6, 18)
    add_hits(ys, kicks, p, -0.2, 8, 24)
    add_hits(zs, kicks, p, -0.25, 8, 24)
    for pip, vel in score.percussion():
        add_bump(xs, pip, -math.copysign(0.18 * vel, xs[pip]), 5, 12)
    _add_depth(zs, score, 0.3, 10, 40)
    _add_ghost_flicks(ys, score, -0.2)
    _add_ghost_flicks(zs, score, 0.15)
    return xs, ys, zs


def spring(score: Score):
    """Each struck hit pushes a damped spring; it rings down and comes to rest before the
    next push where the score leaves room. Hats and shakers do not push it."""
    p = score.period
    kicks = score.kicks()
    sx, sy, sz = (TAU / 44, SPRING_DAMPING), (TAU / 38, SPRING_DAMPING), (TAU / 52, SPRING_DAMPING)
    xs, ys, zs = zeros(p), zeros(p), zeros(p)
    back = _accents(score) or score.backbeat_or_kicks()
    add_pushes(xs, back, p, 1.0, *sx, sides=_placed(score, back))
    add_pushes(ys, kicks, p, 1.0, *sy)
    light = _spaced(score.percussion(), p, SPRING_ROOM)
    depth = _spaced(score.hits(*DEPTH), p, SPRING_ROOM)
    add_pushes(zs, depth, p, -1.0, *sz)
    add_pushes(zs, light, p, 0.5, *sz, sides=_placed(score, light))
    if not light and not depth:
        add_pushes(zs, kicks, p, 0.5, *sz)
    add_pushes(xs, _ghosts(score), p, lambda i, v: -0.5, *sx)
    return xs, ys, zs


# Damping ratio of the spring: a push overshoots a little and settles within about a beat.
SPRING_DAMPING = 0.6
# Depth and percussion push the depth spring at most this often, the louder of two closer
# hits, so that it has time to settle between pushes.
SPRING_ROOM = 48


# Directions the ricochet visits in turn; each axis is sent both ways.
TARGETS = ((0.9, -0.3, 0.2), (-0.5, -0.75, -0.4), (-0.7, 0.5, 0.5), (0.4, 0.8, -0.6),
           (0.1, -0.45, 0.9))


def ricochet(score: Score):
    """Each onset flings an excursion toward the next of a cyclic series of targets."""
    p = score.period
    onsets = score.onsets()
    # An onset soon followed by the next has no time to fly far: its throw shortens.
    reach = [v * min(1.0, gap_after(onsets, i, p) / 32) for i, (_, v) in enumerate(onsets)]
    lanes = (zeros(p), zeros(p), zeros(p))
    for axis, lane in enumerate(lanes):
        add_hits(lane, onsets, p,
                 lambda i, v, a=axis: TARGETS[i % len(TARGETS)][a] * reach[i], 12, 48)
    return lanes


MOTIONS = {fn.__name__: fn for fn in (
    bounce, step, orbit, glide, surge, recoil, flutter, dive, pendulum, figure8, box,
    corkscrew, spiral, slalom, spring, ricochet)}

# Where hats and shakers leave their detail, and how large: (axes, size). The bounce keeps
# them off y so that its lows stay on the kicks, bounce and step off z, which only the
# depth lanes write there.
HAT_DETAIL = {
    "bounce": ((0,), 0.26), "step": ((1,), 0.3), "orbit": ((0, 1), 0.15),
    "glide": ((0, 1, 2), 0.36), "surge": ((1, 2), 0.24), "recoil": ((0, 2), 0.15),
    "flutter": ((0, 1), 0.12), "dive": ((0, 1), 0.2), "pendulum": ((1, 2), 0.15),
    "figure8": ((0, 1, 2), 0.24), "box": ((0, 1, 2), 0.24), "corkscrew": ((0, 1, 2), 0.24),
    "spiral": ((0, 1, 2), 0.3), "slalom": ((0, 1, 2), 0.24), "spring": ((), 0.0),
    "ricochet": ((0, 1, 2), 0.22),
}


# The way each hat voice flicks, as a turn about the detail's axes.
HAT_TURN = {"closed_hat": 0.0, "open_hat": 0.5 * PI, "ride": PI, "shaker": 1.5 * PI}


def _add_hat_detail(lanes, axes: tuple[int, ...], size: float, score: Score) -> None:
    """Each hat flicks a little, the way its voice and loudness give: a hat that recurs
    flicks the same way, and an accented hat turns away from the quiet ones.

    Styles that share their drums but not their hats still move apart by where their hats
    fall and how loud. Hats right at a backbeat leave it to the backbeat.
    """
    hits = _clear_of(score.hits(*FLUTTER), score, 14)
    voice: dict[int, str] = {}
    loudest: dict[int, float] = {}
    for name in FLUTTER:
        for pip, vel in score.lanes.get(name, ()):
            if vel > loudest.get(pip, 0.0):
                loudest[pip], voice[pip] = vel, name
    angles = [HAT_TURN[voice[pip]] + TAU * 1.6 * vel for pip, vel in hits]
    for n, axis in enumerate(axes):
        offset = PI * n / len(axes)
        # y points down: its flicks turn the other way round, as the motions' own y does.
        sized = -size if axis == 1 else size
        add_hits(lanes[axis], hits, score.period,
                 lambda i, v, o=offset, a=sized: a * math.sqrt(v) * math.cos(angles[i] + o),
                 6, 14)


def motion_lanes(motion: str, score: Score):
    lanes = MOTIONS[motion](score)
    _add_hat_detail(lanes, *HAT_DETAIL[motion], score)
    return lanes

# Motions whose extremes are placed on the hits themselves: (motion, pinned axis).
PINNED = {"bounce": 1, "step": 0}

# The reach each motion is scaled to; none sits on the 0.82 of the scaled families.
REACH = {"orbit": 0.9, "glide": 0.88, "surge": 0.9, "recoil": 0.86, "flutter": 0.88,
         "dive": 0.9, "pendulum": 0.86, "figure8": 0.9, "box": 0.88, "corkscrew": 0.86,
         "spiral": 0.9, "slalom": 0.88, "spring": 0.86, "ricochet": 0.9}
