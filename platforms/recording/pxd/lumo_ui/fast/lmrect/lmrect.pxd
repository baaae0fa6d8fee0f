# The stand-in LmRect as Cython modules cimport it; the same record as
# LmRectObject in include/lumo_standin_types.h.

cdef class LmRect:
    cdef float x, y, w, h

    @staticmethod
    cdef LmRect new(float x, float y, float w, float h)
