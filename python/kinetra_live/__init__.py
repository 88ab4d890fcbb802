"""Follow the music's clock and drive real rigs with kinetra's motions.

The core (clocks, tempo maps, the rig, show files, offline renders) needs nothing but the
standard library and `kinetra`; the network and MIDI outputs come with the `live` extra.
"""
