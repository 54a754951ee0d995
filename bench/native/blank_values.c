/* The object-creation limit: lists of bare objects of DecodedValue's size,
   made the way _skyrec makes its values (one PyObject_Malloc each, of a heap
   type) and freed the way they are freed. Built by bench/compare.py for the
   benchmark only. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <string.h>

static PyTypeObject *blank_type;

static void blank_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    PyObject_Free(self);
    Py_DECREF(type);
}

/* make_type(basicsize): creates the type, once. */
static PyObject *make_type(PyObject *module, PyObject *arg) {
    Py_ssize_t size = PyLong_AsSsize_t(arg);
    if (size < 0) return NULL;
    if (size < (Py_ssize_t)sizeof(PyObject)) size = sizeof(PyObject);
    PyType_Slot slots[] = {{Py_tp_dealloc, (void *)blank_dealloc}, {0, NULL}};
    PyType_Spec spec = {"blank_values.Blank", (int)size, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
    Py_XDECREF(blank_type);
    blank_type = (PyTypeObject *)PyType_FromSpec(&spec);
    if (blank_type == NULL) return NULL;
    Py_RETURN_NONE;
}

/* values(n): a list of n new objects, their fields zeroed. */
static PyObject *values(PyObject *module, PyObject *arg) {
    Py_ssize_t n = PyLong_AsSsize_t(arg);
    if (n < 0) return NULL;
    if (blank_type == NULL) return PyErr_Format(PyExc_RuntimeError, "make_type first");
    PyObject *list = PyList_New(n);
    if (list == NULL) return NULL;
    const size_t size = (size_t)blank_type->tp_basicsize;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *o = PyObject_Malloc(size);
        if (o == NULL) {
            Py_DECREF(list);
            return PyErr_NoMemory();
        }
        PyObject_Init(o, blank_type);
        memset((char *)o + sizeof(PyObject), 0, size - sizeof(PyObject));
        PyList_SET_ITEM(list, i, o);
    }
    return list;
}

static PyMethodDef methods[] = {
    {"make_type", make_type, METH_O, NULL},
    {"values", values, METH_O, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "blank_values", NULL, -1, methods};

PyMODINIT_FUNC PyInit_blank_values(void) { return PyModule_Create(&module); }
