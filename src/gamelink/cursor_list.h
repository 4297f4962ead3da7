// A doubly linked list of element pointers with one internal cursor, for
// walks that remove as they go. Removing a node never releases its element:
// that is the caller's business. Touched by one thread only, so no lock.
#pragma once

#include <cstddef>

template <typename T>
class CursorList {
public:
    CursorList() = default;
    ~CursorList() {
        while (head) Unlink(head);
    }
    CursorList(const CursorList&) = delete;
    CursorList& operator=(const CursorList&) = delete;

    void ResetToHead() { Reset(head); }
    void ResetToTail() { Reset(tail); }
    // The first advance after a reset yields the element the cursor was
    // reset to, later ones the next element; false past the end.
    bool Advance() {
        if (fresh)
            fresh = false;
        else if (cursor)
            cursor = cursor->next;
        return cursor != nullptr;
    }
    T* Current() const { return cursor ? cursor->element : nullptr; }

    void Append(T* element) {
        Node* node = new Node{nullptr, tail, element};
        if (tail)
            tail->next = node;
        else
            head = node;
        tail = node;
        ++count;
    }
    void InsertAtHead(T* element) {
        Node* node = new Node{head, nullptr, element};
        if (head)
            head->previous = node;
        else
            tail = node;
        head = node;
        ++count;
    }
    // Removes the current node; the next advance yields the element that
    // followed it (the new head when the head was removed).
    void RemoveCurrent() {
        if (!cursor) return;
        Node* following = cursor->next;
        Unlink(cursor);
        Reset(following);
    }

    T* Head() const { return head ? head->element : nullptr; }
    size_t Count() const { return count; }
    bool Empty() const { return count == 0; }

private:
    struct Node {
        Node* next;
        Node* previous;
        T* element;
    };

    void Reset(Node* at) {
        cursor = at;
        fresh = true;
    }
    void Unlink(Node* node) {
        (node->previous ? node->previous->next : head) = node->next;
        (node->next ? node->next->previous : tail) = node->previous;
        if (cursor == node) cursor = nullptr;
        delete node;
        --count;
    }

    Node* head = nullptr;
    Node* tail = nullptr;
    Node* cursor = nullptr;
    bool fresh = false;  // reset and not advanced yet
    size_t count = 0;
};
