// Fixed-size numeric containers of the optimiser, and the type of every model's objective.
#pragma once

#include <cstddef>

// A fixed-size, 0-based vector that owns its storage. Access is unchecked and new storage is
// left uninitialised. Only T = double is used by the program.
template <class T> class NRvector {
  public:
    // n elements of storage when n > 0, none otherwise.
    explicit NRvector(int n)
        : count(n), data(n > 0 ? new T[static_cast<std::size_t>(n)] : nullptr) {}
    NRvector(const NRvector&) = delete;
    NRvector& operator=(const NRvector&) = delete;
    ~NRvector() { delete[] data; }

    int size() const { return count; }
    T& operator[](int i) { return data[i]; }
    const T& operator[](int i) const { return data[i]; }

  private:
    int count;
    T* data;
};

// A fixed-size, 0-based matrix stored as one contiguous block, row after row. Row i is a plain
// pointer to its first element; access is unchecked and new storage is left uninitialised.
template <class T> class NRmatrix {
  public:
    NRmatrix(int n, int m) : nRows(n), nCols(m), rowPtr(nullptr) { allocate(); }
    NRmatrix(const NRmatrix& other) : nRows(other.nRows), nCols(other.nCols), rowPtr(nullptr) {
        allocate();
        copyElements(other);
    }
    // Self-assignment does nothing; a matrix of another shape is reallocated, one of the same
    // shape is copied into in place.
    NRmatrix& operator=(const NRmatrix& other) {
        if (this == &other) {
            return *this;
        }
        if (nRows != other.nRows || nCols != other.nCols) {
            release();
            nRows = other.nRows;
            nCols = other.nCols;
            allocate();
        }
        copyElements(other);
        return *this;
    }
    ~NRmatrix() { release(); }

    int rows() const { return nRows; }
    int cols() const { return nCols; }
    T* operator[](int i) { return rowPtr[i]; }
    const T* operator[](int i) const { return rowPtr[i]; }

  private:
    void allocate() {
        if (nRows <= 0) {
            rowPtr = nullptr;
            return;
        }
        rowPtr = new T*[static_cast<std::size_t>(nRows)];
        const long long total = static_cast<long long>(nRows) * nCols;
        rowPtr[0] = total > 0 ? new T[static_cast<std::size_t>(total)] : nullptr;
        for (int i = 1; i < nRows; i++) {
            rowPtr[i] = rowPtr[i - 1] + nCols;
        }
    }
    void release() {
        if (rowPtr != nullptr) {
            delete[] rowPtr[0];
            delete[] rowPtr;
            rowPtr = nullptr;
        }
    }
    void copyElements(const NRmatrix& other) {
        for (int i = 0; i < nRows; i++) {
            for (int j = 0; j < nCols; j++) {
                rowPtr[i][j] = other.rowPtr[i][j];
            }
        }
    }

    int nRows;
    int nCols;
    T** rowPtr;
};

// The type of a model's likelihood function: takes the parameter vector (never written, length
// never checked) and returns the value to minimise, a negative log-likelihood or a penalty.
using ObjectiveFunction = double(const NRvector<double>&);
