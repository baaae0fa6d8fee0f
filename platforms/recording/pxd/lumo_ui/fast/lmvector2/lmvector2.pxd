# The stand-in LmVector2 as Cython modules cimport it; the same record as
# LmVector2Object in include/lumo_standin_types.h.

ctypedef struct lm_vector2_t:
    double x
    double y


cdef class LmVector2:
    cdef lm_vector2_t data

    @staticmethod
    cdef LmVector2 new(double x, double y)
