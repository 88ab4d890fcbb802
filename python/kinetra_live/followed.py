"""What `render` needs to follow the music itself: `--audio` and `--timecode`."""

from __future__ import annotations


def prepare(show, args, trace):
    """(show, trace, follower) for the render: the show with an analysed track's clock, or a
    timecode trace and what makes its follower (one for each stream of pips a render reads);
    None leaves the render's own. Raises OSError or ValueError with a one-line reason."""
    if getattr(args, "audio", None) is not None:
        from .analyse import analyse_file, with_clock
        clock, _ = analyse_file(args.audio, show.clock.bpm_range)
        show = with_clock(show, clock)
    if getattr(args, "timecode", None) is not None:
        from .timecode import TraceFollower, read_trace
        if trace is not None:
            raise ValueError("--timecode and --midi-clock: follow one clock at a time")
        if not show.songs:
            raise ValueError(f"{show.path}: song: following timecode needs at least one "
                             f"[[song]]")
        trace = read_trace(args.timecode)
        songs, freewheel = show.songs, show.clock.freewheel_frames
        return show, trace, lambda: TraceFollower(songs, freewheel_frames=freewheel)
    return show, trace, None
