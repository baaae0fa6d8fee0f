"""Width, height and rectangle queries of LmRenderTexture."""

import struct
import sys

import pytest
from conftest import entries

import lumo_standin
from lumo_ui.fast.lmrect.lmrect import LmRect
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

RECT_NAME = f"{LmRect.__module__}.{LmRect.__qualname__}"


def single(value):
    return struct.unpack("f", struct.pack("f", value))[0]


class IntVector(LmVector2):
    """A vector whose components come back as ints."""

    @property
    def x(self):
        return 640

    @property
    def y(self):
        return 360


class Indexable:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class OddVector(LmVector2):
    """Components of any type, chosen per test."""

    def __init__(self, x, y):
        self.fake_x, self.fake_y = x, y

    @property
    def x(self):
        return self.fake_x

    @property
    def y(self):
        return self.fake_y


class RectSub(LmRect):
    pass


def make(x, y):
    return LmRenderTexture(LmVector2(x, y))


def rect_fields(rect):
    return rect.x, rect.y, rect.w, rect.h


def test_integer_components_come_back_as_floats(log):
    target = LmRenderTexture(IntVector())
    width, height = target.get_width(), target.get_height()
    assert (width, height) == (640.0, 360.0)
    assert type(width) is float and type(height) is float


@pytest.mark.parametrize(
    "x, y, expected",
    [
        (Indexable(7), 3.5, (7.0, 3.5)),
        (True, 2, (1.0, 2.0)),
        (2**60, -0.0, (float(2**60), -0.0)),
    ],
)
def test_components_go_through_float_conversion(log, x, y, expected):
    target = LmRenderTexture(OddVector(1, 1))
    target.size = OddVector(x, y)
    assert (target.get_width(), target.get_height()) == expected


def test_rect_spans_the_size_from_the_origin(log):
    target = make(800.5, 600.25)
    log.clear()
    rect = target.get_rect()
    assert type(rect) is LmRect
    assert rect_fields(rect) == (0.0, 0.0, 800.5, 600.25)
    assert log == [("LmRect.new", 0.0, 0.0, 800.5, 600.25)]


def test_rect_is_single_precision_while_width_stays_double(log):
    target = make(0.1, 1e40)
    assert target.get_width() == 0.1
    assert target.get_height() == 1e40
    rect = target.get_rect()
    assert rect.w == single(0.1) != 0.1
    assert rect.h == float("inf")


@pytest.mark.parametrize("kill_first", [False, True])
def test_answers_follow_the_vector_and_ignore_loaded(log, kill_first):
    vector = LmVector2(10.0, 20.0)
    target = LmRenderTexture(vector)
    if kill_first:
        target.kill()
    log.clear()
    assert (target.get_width(), target.get_height()) == (10.0, 20.0)
    vector.x = 11.0
    assert target.get_width() == 11.0
    target.size = LmVector2(3.0, 4.0)
    assert rect_fields(target.get_rect()) == (0.0, 0.0, 3.0, 4.0)
    assert lumo_standin.names() == ["LmRect.new"]


@pytest.mark.parametrize("method", ["get_width", "get_height", "get_rect"])
@pytest.mark.parametrize(
    "call, message",
    [
        (lambda m: m(1), "{}() takes exactly 0 positional arguments (1 given)"),
        (lambda m: m(1, 2), "{}() takes exactly 0 positional arguments (2 given)"),
        (lambda m: m(x=1), "{}() got an unexpected keyword argument 'x'"),
        (lambda m: m(1, x=1), "{}() takes exactly 0 positional arguments (1 given)"),
    ],
)
def test_arguments_are_refused(log, method, call, message):
    target = make(1.0, 2.0)
    log.clear()
    with pytest.raises(TypeError) as excinfo:
        call(getattr(target, method))
    assert str(excinfo.value) == message.format(method)
    assert log == []


@pytest.mark.parametrize("method", ["get_width", "get_height", "get_rect"])
@pytest.mark.parametrize(
    "size, error",
    [
        (None, AttributeError),
        (OddVector("1", "2"), TypeError),
        (OddVector(object(), object()), TypeError),
    ],
)
def test_unreadable_size_propagates(log, method, size, error):
    target = make(1.0, 2.0)
    target.size = size
    with pytest.raises(error) as excinfo:
        getattr(target, method)()
    assert entries(excinfo) == [method, method]


def test_rect_reads_width_before_height(log):
    order = []

    class Tracing(LmVector2):
        @property
        def x(self):
            order.append("x")
            return 1.0

        @property
        def y(self):
            order.append("y")
            return 2.0

    target = make(1.0, 1.0)
    target.size = Tracing()
    target.get_rect()
    assert order == ["x", "y"]


def test_rect_construction_failure_propagates(log):
    target = make(1.0, 2.0)
    lumo_standin.fail_at("LmRect.new", MemoryError("rect"))
    with pytest.raises(MemoryError, match="rect"):
        target.get_rect()


def test_no_reference_leaks(log):
    vector = LmVector2(5.0, 6.0)
    target = LmRenderTexture(vector)
    before = sys.getrefcount(vector), sys.getrefcount(target)
    for _ in range(100):
        target.get_width()
        target.get_height()
        target.get_rect()
    log.clear()
    assert (sys.getrefcount(vector), sys.getrefcount(target)) == before


# ---- the native entries, as sibling modules call them ----------------------

class Sub(LmRenderTexture):
    pass


class Overriding(LmRenderTexture):
    def __init__(self, size, answer):
        super().__init__(size)
        self.answer = answer

    def get_width(self):
        return self.answer

    def get_height(self):
        return self.answer

    def get_rect(self):
        return self.answer


@pytest.mark.parametrize("cls", [LmRenderTexture, Sub])
@pytest.mark.parametrize("skip", [0, 1])
def test_native_entries_run_the_body(log, client, cls, skip):
    target = cls(LmVector2(3.0, 0.0))
    assert client.get_width(target, skip) == 3.0
    assert client.get_height(target, skip) == 0.0
    assert rect_fields(client.get_rect(target, skip)) == (0.0, 0.0, 3.0, 0.0)


@pytest.mark.parametrize("entry", ["get_width", "get_height", "get_rect"])
@pytest.mark.parametrize("skip", [0, 1])
def test_native_entries_report_failure(log, client, entry, skip):
    target = make(1.0, 1.0)
    target.size = None
    with pytest.raises(AttributeError) as excinfo:
        getattr(client, entry)(target, skip)
    assert entries(excinfo) == [entry]


@pytest.mark.parametrize(
    "answer, expected", [(7, 7.0), (2.5, 2.5), (Indexable(3), 3.0), (True, 1.0)]
)
def test_overriding_width_and_height(log, client, answer, expected):
    target = Overriding(LmVector2(1.0, 1.0), answer)
    assert client.get_width(target, 0) == expected
    assert client.get_height(target, 0) == expected
    # skip_dispatch and the Python-level methods of the type run the body.
    assert client.get_width(target, 1) == 1.0
    assert LmRenderTexture.get_width(target) == 1.0


@pytest.mark.parametrize("answer", ["wide", None, [1.0]])
def test_overriding_width_with_a_non_number(log, client, answer):
    target = Overriding(LmVector2(1.0, 1.0), answer)
    with pytest.raises(TypeError):
        client.get_width(target, 0)


@pytest.mark.parametrize("answer", [LmRect(1, 2, 3, 4), RectSub(1, 2, 3, 4), None])
def test_overriding_rect_result_passes_unchanged(log, client, answer):
    target = Overriding(LmVector2(1.0, 1.0), answer)
    before = sys.getrefcount(answer)
    result = client.get_rect(target, 0)
    assert result is answer
    del result
    assert sys.getrefcount(answer) == before


@pytest.mark.parametrize(
    "answer, name",
    [((0, 0, 1, 1), "tuple"), (LmVector2(), f"{LmVector2.__module__}.{LmVector2.__qualname__}")],
)
def test_overriding_rect_with_a_foreign_result(log, client, answer, name):
    target = Overriding(LmVector2(1.0, 1.0), answer)
    with pytest.raises(TypeError) as excinfo:
        client.get_rect(target, 0)
    assert str(excinfo.value) == f"Cannot convert {name} to {RECT_NAME}"


def test_failing_override_propagates(log, client):
    class Failing(LmRenderTexture):
        def get_height(self):
            raise KeyError("height")

    target = Failing(LmVector2(1.0, 1.0))
    with pytest.raises(KeyError, match="height"):
        client.get_height(target, 0)


def test_unbound_call_needs_an_argument():
    with pytest.raises(TypeError):
        LmRenderTexture.get_width()
