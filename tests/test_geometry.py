"""Width, height and rectangle queries of LmRenderTexture."""

import struct
import sys

import pytest
from conftest import entries

import lumo_standin
from lumo_ui.fast.lmrect.lmrect import LmRect
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2


def full_name(cls):
    return f"{cls.__module__}.{cls.__qualname__}"


class Indexable:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def _component(name):
    def read(vector):
        vector.reads.append(name)
        value = vector.fake[name]
        if isinstance(value, BaseException):
            raise value
        return value

    return property(read)


class OddVector(LmVector2):
    """A vector whose components are whatever the test chooses (an exception
    is raised when read); it logs the components read, in order."""

    def __init__(self, x, y):
        self.fake = {"x": x, "y": y}
        self.reads = []

    x = _component("x")
    y = _component("y")


class Overriding(LmRenderTexture):
    def __init__(self, answer):
        super().__init__(LmVector2(1.0, 1.0))
        self.answer = answer

    def answer_or_raise(self):
        if self.answer is KeyError:
            raise KeyError("override")
        return self.answer

    get_width = get_height = get_rect = answer_or_raise


def make(x, y):
    return LmRenderTexture(LmVector2(x, y))


def rect_fields(rect):
    return rect.x, rect.y, rect.w, rect.h


@pytest.mark.parametrize(
    "x, y, expected",
    [(640, 360, (640.0, 360.0)), (Indexable(7), True, (7.0, 1.0)), (2**60, -0.0, (2.0**60, -0.0))],
)
def test_components_come_back_as_floats(x, y, expected):
    target = make(1.0, 1.0)
    target.size = OddVector(x, y)
    answers = target.get_width(), target.get_height()
    assert answers == expected and {type(a) for a in answers} == {float}


def test_rect_spans_the_size_from_the_origin(log):
    target = make(800.5, 600.25)
    log.clear()
    rect = target.get_rect()
    assert type(rect) is LmRect and rect_fields(rect) == (0.0, 0.0, 800.5, 600.25)
    assert log == [("LmRect.new", 0.0, 0.0, 800.5, 600.25)]


def test_rect_is_single_precision_while_width_stays_double():
    target = make(0.1, 1e40)
    assert (target.get_width(), target.get_height()) == (0.1, 1e40)
    rect = target.get_rect()
    assert rect.w == struct.unpack("f", struct.pack("f", 0.1))[0] != 0.1
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
    "args, kwargs, message",
    [
        ((1,), {}, "{}() takes exactly 0 positional arguments (1 given)"),
        ((1, 2), {"x": 1}, "{}() takes exactly 0 positional arguments (2 given)"),
        ((), {"x": 1}, "{}() got an unexpected keyword argument 'x'"),
    ],
)
def test_arguments_are_refused(log, method, args, kwargs, message):
    target = make(1.0, 2.0)
    log.clear()
    with pytest.raises(TypeError) as excinfo:
        getattr(target, method)(*args, **kwargs)
    assert str(excinfo.value) == message.format(method)
    assert log == []


@pytest.mark.parametrize("method", ["get_width", "get_height", "get_rect"])
@pytest.mark.parametrize(
    "make_size, x_error, y_error",
    [
        pytest.param(lambda: None, AttributeError, AttributeError, id="no vector"),
        pytest.param(lambda: OddVector("1", "2"), TypeError, TypeError, id="strings"),
        pytest.param(lambda: OddVector([], []), TypeError, TypeError, id="lists"),
        pytest.param(lambda: OddVector(KeyError("x"), IndexError("y")), KeyError, IndexError,
                     id="both raise"),
    ],
)
def test_unreadable_size_propagates(method, make_size, x_error, y_error):
    target = make(1.0, 2.0)
    target.size = size = make_size()
    # The rectangle reads and converts x before it reads y.
    first = "y" if method == "get_height" else "x"
    with pytest.raises(y_error if first == "y" else x_error) as excinfo:
        getattr(target, method)()
    # One entry from the native body, one from the Python method.
    assert entries(excinfo) == [method, method]
    if size is not None:
        assert size.reads == [first]


@pytest.mark.parametrize(
    "read, expected",
    [
        (lambda t: t.width, 42),
        (lambda t: t.get_width(), 42.0),
        (lambda t: rect_fields(t.get_rect())[2], 42.0),
    ],
)
def test_a_changed_vector_type_shows_at_once(read, expected):
    # Repeated reads are served without the lookup; a change to the type
    # must end that at once, and restoring it must bring the field back.
    target = make(3.0, 4.0)
    original = LmVector2.__dict__["x"]
    assert read(target) == read(target) == 3.0
    LmVector2.x = property(lambda vector: 42)
    try:
        assert read(target) == expected
    finally:
        LmVector2.x = original
    assert read(target) == 3.0


# ---- the native entries, as sibling modules call them ----------------------


@pytest.mark.parametrize("subclassed", [False, True])
@pytest.mark.parametrize("skip", [0, 1])
def test_native_entries_run_the_body(client, subclassed, skip):
    cls = type("Sub", (LmRenderTexture,), {}) if subclassed else LmRenderTexture
    target = cls(LmVector2(3.0, 0.0))
    assert client.get_width(target, skip) == 3.0
    assert client.get_height(target, skip) == 0.0  # with no error set
    assert rect_fields(client.get_rect(target, skip)) == (0.0, 0.0, 3.0, 0.0)


@pytest.mark.parametrize("entry", ["get_width", "get_height", "get_rect"])
def test_native_entries_report_failure(client, entry):
    target = make(1.0, 1.0)
    target.size = None
    with pytest.raises(AttributeError) as excinfo:
        getattr(client, entry)(target, 1)
    assert entries(excinfo) == [entry]


@pytest.mark.parametrize("answer, expected", [(7, 7.0), (2.5, 2.5), (Indexable(3), 3.0)])
def test_overriding_width_and_height(client, answer, expected):
    target = Overriding(answer)
    assert (client.get_width(target, 0), client.get_height(target, 0)) == (expected, expected)
    # Without dispatch, and through the type's own method, the body runs.
    assert client.get_width(target, 1) == LmRenderTexture.get_width(target) == 1.0


FAILING_ANSWERS = [("wide", TypeError), (None, TypeError), (KeyError, KeyError)]


@pytest.mark.parametrize(
    "entry, answer, error",
    [
        (entry, answer, error)
        for entry in ("get_width", "get_height", "get_rect")
        for answer, error in FAILING_ANSWERS
        if not (entry == "get_rect" and answer is None)  # a valid rectangle answer
    ],
)
def test_overrides_that_fail(client, entry, answer, error):
    with pytest.raises(error) as excinfo:
        getattr(client, entry)(Overriding(answer), 0)
    assert entries(excinfo) == [entry]
    if entry == "get_rect" and error is TypeError:
        assert str(excinfo.value) == f"Cannot convert str to {full_name(LmRect)}"


@pytest.mark.parametrize(
    "answer", [LmRect(1, 2, 3, 4), type("RectSub", (LmRect,), {})(1, 2, 3, 4), None]
)
def test_overriding_rect_result_passes_unchanged(client, answer):
    target = Overriding(answer)
    before = sys.getrefcount(answer)
    result = client.get_rect(target, 0)
    assert result is answer
    del result
    assert sys.getrefcount(answer) == before


def test_overriding_rect_with_a_vector(client):
    with pytest.raises(TypeError) as excinfo:
        client.get_rect(Overriding(LmVector2()), 0)
    assert str(excinfo.value) == f"Cannot convert {full_name(LmVector2)} to {full_name(LmRect)}"
