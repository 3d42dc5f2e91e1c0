"""A plain second implementation of the picture signature, written to be checked by eye.

Every value the analyser stores (vector and matrix elements, colour triples) is a 32-bit float.
Here each such value is computed exactly with fractions and rounded once, halves to even, to the
nearest 32-bit float: that is the result any wider intermediate arithmetic must agree with.
Standard library only; slow, but there are only a few fixtures.

Conventions: a picture is a list of rows, row 0 at the top, each row a list of (r, g, b) byte
triples. The grid is indexed grid[x][y]: first index the picture column, second the row.
"""

import math
from fractions import Fraction

SIZE = 128
HUE_BINS = 32
TRACE_SIDE = 32  # ExtractTrace keeps rows 0..31 and columns 0..31 of the transformed grid

# The constants of the brightness formula, exactly as written in decimal.
WEIGHT_R = Fraction("0.299")
WEIGHT_G = Fraction("0.587")
WEIGHT_B = Fraction("0.114")
NORM_FLOOR = Fraction("0.0001")


def f32(value):
    """The 32-bit float nearest to an exact value (int, Fraction or float), halves to even."""
    q = Fraction(value)
    if q == 0:
        return 0.0
    sign = -1 if q < 0 else 1
    q = abs(q)
    # Choose e so that 2^23 <= q / 2^e < 2^24: the significand then is an integer after rounding.
    e = q.numerator.bit_length() - q.denominator.bit_length() - 23
    while q >= Fraction(2) ** (e + 24):
        e += 1
    while q < Fraction(2) ** (e + 23):
        e -= 1
    e = max(e, -149)  # subnormals share the smallest exponent
    significand = round(q / Fraction(2) ** e)  # Fraction rounds halves to even
    result = math.ldexp(significand, e)
    if result > 3.4028234663852886e38:
        raise OverflowError("beyond the 32-bit float range")
    return sign * result


def round_half_even(value):
    """Nearest integer, halves to even (Python's round does exactly that)."""
    return round(Fraction(value))


# ----------------------------------------------------------------------------- vector

def norm(vector):
    """Sum of squares in index order, every partial sum a 32-bit float; then the square root."""
    partial = 0.0
    for v in vector:
        partial = f32(Fraction(partial) + Fraction(v) * Fraction(v))
    # sqrt of a 32-bit float, correctly rounded to double and then to 32-bit float, is the
    # correctly rounded 32-bit result (a double holds more than twice the bits of a float).
    return f32(math.sqrt(partial))


def normalize(vector):
    """In place; False and unchanged when the norm is 0.0001 or less."""
    n = norm(vector)
    if abs(Fraction(n)) <= NORM_FLOOR:
        return False
    for k, v in enumerate(vector):
        vector[k] = f32(Fraction(v) / Fraction(n))
    return True


# ----------------------------------------------------------------------------- colours

def rgb_to_hsl(r, g, b):
    """(lightness, hue, saturation) from r, g, b in 0..1; ties go red, green, blue."""
    r, g, b = Fraction(r), Fraction(g), Fraction(b)
    hi = max(r, g, b)
    lo = min(r, g, b)
    lightness = (hi + lo) / 2
    if hi == lo:
        return f32(lightness), 0.0, 0.0
    d = hi - lo
    if lightness < Fraction(1, 2):
        saturation = d / (hi + lo)
    else:
        saturation = d / (2 - hi - lo)
    if r == hi:
        hue = (g - b) / d
    elif g == hi:
        hue = (b - r) / d + 2
    else:
        hue = (r - g) / d + 4
    hue = hue / 6
    if hue < 0:
        hue += 1
    return f32(lightness), f32(hue), f32(saturation)


# ----------------------------------------------------------------------------- grid

_pixel_cache = {}


def pixel_values(red, green, blue):
    """Brightness and hue bin of one pixel given as bytes."""
    key = (red, green, blue)
    if key not in _pixel_cache:
        r = f32(Fraction(red, 255))
        g = f32(Fraction(green, 255))
        b = f32(Fraction(blue, 255))
        brightness = f32(WEIGHT_R * Fraction(r) + WEIGHT_G * Fraction(g) + WEIGHT_B * Fraction(b))
        _, hue, _ = rgb_to_hsl(r, g, b)
        hue_bin = min(round_half_even(Fraction(hue) * HUE_BINS), HUE_BINS - 1)
        _pixel_cache[key] = (brightness, hue_bin)
    return _pixel_cache[key]


def fill_grid(picture, with_hue):
    """The brightness grid grid[x][y] and, with hue, the normalised hue histogram (else None)."""
    grid = [[0.0] * SIZE for _ in range(SIZE)]
    histogram = [0.0] * HUE_BINS if with_hue else None
    for y in range(SIZE):
        for x in range(SIZE):
            brightness, hue_bin = pixel_values(*picture[y][x])
            grid[x][y] = brightness
            if with_hue:
                histogram[hue_bin] = f32(Fraction(histogram[hue_bin]) + 1)
    if with_hue:
        normalize(histogram)
    return grid, histogram


# ----------------------------------------------------------------------------- Haar

def haar_step(data, n):
    """One step on data[0..n-1]: pair averages to the low half, half-differences to the high."""
    if n < 2:
        return False
    h = n // 2
    temporary = list(data)
    for i in range(h):
        a, b = Fraction(data[2 * i]), Fraction(data[2 * i + 1])
        temporary[i] = f32((a + b) * Fraction(1, 2))
        temporary[h + i] = f32((a - b) * Fraction(1, 2))
    data[0:n] = temporary[0:n]
    return True


def transform(matrix, smallest=1):
    """Pyramid decomposition in place of a square power-of-two matrix (rows x cols)."""
    rows = len(matrix)
    cols = len(matrix[0])
    assert rows == cols and rows & (rows - 1) == 0, "only the working grid is needed here"
    w, h = cols, rows
    while w > smallest or h > smallest:
        if w > 1:
            for r in range(h):
                buffer = [matrix[r][c] for c in range(w)]
                haar_step(buffer, w)
                for c in range(w):
                    matrix[r][c] = buffer[c]
        if h > smallest:
            for c in range(w):
                buffer = [matrix[r][c] for r in range(h)]
                haar_step(buffer, h)
                for r in range(h):
                    matrix[r][c] = buffer[r]
        if w > smallest:
            w //= 2
        if h > smallest:
            h //= 2
    return True


# ----------------------------------------------------------------------------- traces

def extract_trace(grid, r0=0, r1=TRACE_SIDE - 1, c0=0, c1=TRACE_SIDE - 1):
    """Signed bytes (-127..127) of the normalised block, row-major: byte k = 32 * r + c."""
    coefficients = [grid[r][c] for r in range(r0, r1 + 1) for c in range(c0, c1 + 1)]
    normalize(coefficients)
    return [max(-127, min(127, round_half_even(127 * Fraction(v)))) for v in coefficients]


def store_hue_trace(histogram):
    """Unsigned bytes (0..255) of the normalised histogram."""
    return [min(255, round_half_even(255 * Fraction(v))) for v in histogram]


def compare_traces(a, b, unsigned_bytes):
    """Dot product of the bytes over 127^2 (signed) or 255^2 (unsigned), as a 32-bit float."""
    assert len(a) == len(b)
    if unsigned_bytes:
        a = [v & 0xFF for v in a]
        b = [v & 0xFF for v in b]
        return f32(Fraction(sum(x * y for x, y in zip(a, b)), 255 * 255))
    signed = [(v + 128) % 256 - 128 for v in a], [(v + 128) % 256 - 128 for v in b]
    return f32(Fraction(sum(x * y for x, y in zip(*signed)), 127 * 127))


# ----------------------------------------------------------------------------- variants

# Destination pixel (x, y) takes source pixel source(x, y) of a W x H picture.
VARIANTS = {
    1: ("Rotate180", lambda x, y, w, h: (w - 1 - x, h - 1 - y)),
    2: ("Rotate90Left", lambda x, y, w, h: (w - 1 - y, x)),
    3: ("Rotate90Right", lambda x, y, w, h: (y, h - 1 - x)),
    4: ("FlipVertical", lambda x, y, w, h: (x, h - 1 - y)),
    5: ("FlipHorizontal", lambda x, y, w, h: (w - 1 - x, y)),
}


def apply_variant(picture, element):
    """The picture transformed by variant element 1..5; turns by 90 degrees swap W and H."""
    _, source_of = VARIANTS[element]
    h = len(picture)
    w = len(picture[0])
    width, height = (h, w) if element in (2, 3) else (w, h)
    return [[picture[sy][sx] for sx, sy in (source_of(x, y, w, h) for x in range(width))]
            for y in range(height)]


# ----------------------------------------------------------------------------- signature

def analyse(picture, variants=(0, 1, 2, 3, 4, 5)):
    """{'L': {element: 1024 signed ints}, 'H': 32 ints} of a 128 x 128 picture."""
    assert len(picture) == SIZE and all(len(row) == SIZE for row in picture)
    grid, histogram = fill_grid(picture, True)
    transform(grid)
    l_traces = {0: extract_trace(grid)}
    h_trace = store_hue_trace(histogram)
    for element in (1, 2, 3, 4, 5):
        if element in variants:
            grid, _ = fill_grid(apply_variant(picture, element), False)
            transform(grid)
            l_traces[element] = extract_trace(grid)
    return {"L": l_traces, "H": h_trace}


# ----------------------------------------------------------------------------- self check

def self_check():
    """Properties the written algorithm promises; make_expected runs this before writing."""
    data = [0.75, 0.25]
    assert haar_step(data, 2) and data == [0.5, 0.25]
    data = [0.75]
    assert not haar_step(data, 1) and data == [0.75]

    constant = [[0.3] * SIZE for _ in range(SIZE)]
    transform(constant)
    assert constant[0][0] == f32(0.3)
    assert all(v == 0 for r, row in enumerate(constant) for c, v in enumerate(row) if (r, c) != (0, 0))

    # With values exact in binary, the top-left 32 x 32 block is the full decomposition of the
    # 4 x 4 block averages, and (0, 0) the mean.
    values = [[((7 * r + 3 * c * c) % 17) / 16 for c in range(SIZE)] for r in range(SIZE)]
    averages = [[sum(values[4 * r + i][4 * c + j] for i in range(4) for j in range(4)) / 16
                 for c in range(32)] for r in range(32)]
    mean = sum(map(sum, values)) / SIZE ** 2
    small = [row[:] for row in averages]
    transform(small)
    transform(values)
    assert [row[:32] for row in values[:32]] == small and values[0][0] == mean

    assert rgb_to_hsl(1, 0, 0) == (0.5, 0.0, 1.0)
    assert rgb_to_hsl(0, 0, 1)[1] == f32(Fraction(2, 3))
    assert rgb_to_hsl(f32(0.4), f32(0.4), f32(0.4))[1:] == (0.0, 0.0)
    assert rgb_to_hsl(1, 0, 0.5)[1] == f32(Fraction(11, 12))
    assert [pixel_values(*c)[1] for c in ((255, 0, 0), (0, 255, 0), (0, 0, 255))] == [0, 11, 21]

    _, histogram = fill_grid([[(90, 90, 90)] * SIZE] * SIZE, True)
    assert histogram == [1.0] + [0.0] * 31

    v = [0.0] * 4
    assert not normalize(v) and v == [0.0] * 4
    v = [f32(0.00006), f32(0.00008)]  # norm: the float nearest 0.0001, just below it
    assert not normalize(v) and v == [f32(0.00006), f32(0.00008)]
    v = [0.0, f32(0.000101)]  # just above: divided
    assert normalize(v) and v == [0.0, 1.0]

    sample = [[(x, y, 7) for x in range(5)] for y in range(3)]  # 5 wide, 3 high
    assert apply_variant(apply_variant(sample, 2), 3) == sample
    assert apply_variant(sample, 1) == apply_variant(apply_variant(sample, 4), 5)
    # Turned left, the top-right corner comes to the top left; turned right, the top left
    # goes to the top right.
    assert apply_variant(sample, 2)[0][0] == sample[0][4]
    assert apply_variant(sample, 3)[0][2] == sample[0][0]
