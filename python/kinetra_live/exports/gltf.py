"""A render as glTF 2.0 (`.glb`, or `.gltf` with its buffer inline), through pygltflib.

One node per fixture, named after it, and one animation with a keyframe at each frame's
exact time (seconds from the show's start). A node's translation is the fixture's position
after its transforms, times `[export] size` in metres, turned into glTF's axes: the motion's
x right, y down, z toward the viewer becomes glTF's x right, y up, z toward the viewer, so
y changes sign. A moving head's node also turns: its -z axis (where glTF's spot lights and
cameras point) follows the beam, from the pan and tilt the head is sent (the same head
mapping as the DMX outputs); with the middle of both ranges on a floor head it points up.

The file must hold every frame, as float32: BYTES_A_FRAME + 12 a fixture + 16 a head, and
writing it takes about three times that at the peak (four for `.gltf`, whose buffer is base64
text). An export over MAX_BUFFER_BYTES is refused before it starts.
"""

from __future__ import annotations

import base64
import math
import sys
from array import array
from fractions import Fraction

import pygltflib as gl

from .. import show as shows
from . import ExportError

SUFFIXES = (".glb", ".gltf")
BYTES_A_FRAME = 4                     # the keyframe's time
BYTES_A_FIXTURE = 12                  # translation, three float32
BYTES_A_HEAD = 16                     # rotation, a float32 quaternion
# 128 MiB; it also keeps float32 frame times strictly increasing at any frame rate: at most
# 2**23 frames, and a float32 step below 2**23 frames' time is less than a frame
MAX_BUFFER_BYTES = 128 << 20

_HALF = math.sqrt(0.5)


def _product(a, b):
    """Hamilton product of quaternions (x, y, z, w)."""
    ax, ay, az, aw = a
    bx, by, bz, bw = b
    return (aw * bx + ax * bw + ay * bz - az * by,
            aw * by - ax * bz + ay * bw + az * bx,
            aw * bz + ax * by - ay * bx + az * bw,
            aw * bw - ax * bx - ay * by - az * bz)


# The stage frame (x right, y upstage, z up) into glTF's: a quarter turn about x.
STAGE_TO_GLTF = (-_HALF, 0.0, 0.0, _HALF)
TRUSS = (0.0, 1.0, 0.0, 0.0)          # half a turn about the stage's y
# the node's -z onto the yoke's axis (+z of the head), where the beam leaves at rest
NODE_TO_HEAD = (1.0, 0.0, 0.0, 0.0)


def head_rotation(hang: str, pan_from_middle: float, tilt_from_middle: float):
    """The node rotation of a head at these angles (degrees from the middle of its ranges):
    pan about the yoke's axis, then tilt about the head's x, as the aiming geometry has it."""
    half_a, half_b = math.radians(pan_from_middle) / 2, math.radians(tilt_from_middle) / 2
    ca, sa, cb, sb = math.cos(half_a), math.sin(half_a), math.cos(half_b), math.sin(half_b)
    turn = (ca * sb, sa * sb, sa * cb, ca * cb)
    mount = _product(STAGE_TO_GLTF, TRUSS) if hang == "truss" else STAGE_TO_GLTF
    return _product(_product(mount, turn), NODE_TO_HEAD)


def bytes_a_frame(show: shows.Show) -> int:
    heads = sum(f.head is not None for f in show.fixtures)
    return BYTES_A_FRAME + BYTES_A_FIXTURE * len(show.fixtures) + BYTES_A_HEAD * heads


class GltfExport:
    def __init__(self, show: shows.Show, count: int, fps: int, binary: bool):
        self.show, self.fps, self.binary, self.count = show, fps, binary, count
        per_frame = bytes_a_frame(show)
        if per_frame * count > MAX_BUFFER_BYTES:
            most = MAX_BUFFER_BYTES // per_frame
            raise ExportError(
                f"--seconds: a glTF export holds every frame, {per_frame} bytes a frame for "
                f"this show, and at most {MAX_BUFFER_BYTES >> 20} MiB: at most {most} frames "
                f"({math.floor(Fraction(most, fps))} seconds at {fps} fps)")
        self.times = array("f")
        self.positions = [array("f") for _ in show.fixtures]
        self.heads = [(i, f.head) for i, f in enumerate(show.fixtures) if f.head is not None]
        self.rotations = [array("f") for _ in self.heads]
        self.size = show.export.size

    def add(self, n: int, frame, angles, sent) -> None:
        self.times.append(n / self.fps)
        sx, sy, sz = self.size
        for positions, state in zip(self.positions, frame.fixtures):
            x, y, z = state.out
            positions.extend((x * sx, -(y * sy), z * sz))
        for rotations, (i, head) in zip(self.rotations, self.heads):
            sent = angles[i]
            q = head_rotation(head.hang, sent.pan - head.pan.span / 2,
                              sent.tilt - head.tilt.span / 2)
            if rotations:
                # keep to one hemisphere, so interpolating takes the short way round
                last = rotations[-4:]
                if sum(a * b for a, b in zip(q, last)) < 0:
                    q = tuple(-v for v in q)
            rotations.extend(q)

    def _document(self):
        """The glTF document and its binary buffer; the frames move into the buffer."""
        blob, views, accessors = bytearray(), [], []

        def accessor(data: array, kind: str, width: int, bounds: bool = False) -> int:
            extra = {"min": [min(data)], "max": [max(data)]} if bounds else {}
            accessors.append(gl.Accessor(bufferView=len(views), componentType=gl.FLOAT,
                                         count=len(data) // width, type=kind, **extra))
            if sys.byteorder == "big":
                data.byteswap()
            views.append(gl.BufferView(buffer=0, byteOffset=len(blob),
                                       byteLength=len(data) * data.itemsize))
            blob.extend(data)
            del data[:]
            return len(accessors) - 1

        # glTF asks for the bounds of an animation's times
        times = accessor(self.times, gl.SCALAR, 1, bounds=True)
        nodes, samplers, channels = [], [], []

        def animate(node: int, path: str, output: int) -> None:
            channels.append(gl.AnimationChannel(
                sampler=len(samplers), target=gl.AnimationChannelTarget(node=node, path=path)))
            samplers.append(gl.AnimationSampler(input=times, output=output,
                                                interpolation="LINEAR"))

        head_of = {i: k for k, (i, _) in enumerate(self.heads)}
        for i, fixture in enumerate(self.show.fixtures):
            # the rest pose is the first frame, for a viewer that does not play the animation
            positions = self.positions[i]
            node = gl.Node(name=fixture.name, translation=list(positions[:3]))
            animate(i, "translation", accessor(positions, gl.VEC3, 3))
            if i in head_of:
                rotations = self.rotations[head_of[i]]
                node.rotation = list(rotations[:4])
                animate(i, "rotation", accessor(rotations, gl.VEC4, 4))
            nodes.append(node)
        name = self.show.path.stem if self.show.path is not None else "show"
        document = gl.GLTF2(
            asset=gl.Asset(version="2.0", generator="kinetra_live render"),
            scene=0, scenes=[gl.Scene(name=name, nodes=list(range(len(nodes))))], nodes=nodes,
            animations=[gl.Animation(name=name, samplers=samplers, channels=channels)],
            buffers=[gl.Buffer(byteLength=len(blob))], bufferViews=views, accessors=accessors)
        return document, blob

    def write(self, file) -> None:
        document, blob = self._document()
        if self.binary:
            document.set_binary_blob(blob)
            for part in document.save_to_bytes():
                file.write(part)
            return
        document.buffers[0].uri = gl.DATA_URI_HEADER + base64.b64encode(blob).decode("ascii")
        del blob        # the base64 text has it: the JSON is the largest copy
        file.write(document.gltf_to_json().encode("utf-8"))
