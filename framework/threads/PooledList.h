#pragma once
#include "framework/core/Heap.h"
#include "framework/core/PtrArray.h"
#include "framework/core/Types.h"

#include <atomic>

// A doubly linked list of item pointers whose nodes are recycled through a pool of spares, so
// steady pushing and popping allocates nothing. Not locked: an owner that shares it locks it.
template <typename T>
class PooledList
{
public:
    struct Node
    {
        T* item;
        Node* next;
        Node* prev;
    };

    static constexpr u32 MAX_SPARE = 256;

    Node* head = nullptr;
    Node* tail = nullptr;
    std::atomic<u32> count{0};
    PtrArray<Node> spares;
    u8 deleteItems = 0;

    PooledList() = default;
    explicit PooledList(bool deletes) : deleteItems(deletes ? 1 : 0) {}
    PooledList(const PooledList&) = delete;
    PooledList& operator=(const PooledList&) = delete;
    ~PooledList()
    {
        clear(deleteItems != 0);
        for (Node* n : spares)
            memFree(n);
        spares.reset();
    }

    // The new node, or null when memory runs out (the item is not taken).
    Node* pushBack(T* item)
    {
        Node* n = takeNode();
        if (!n)
            return nullptr;
        n->item = item;
        n->next = nullptr;
        n->prev = tail;
        if (tail)
            tail->next = n;
        else
            head = n;
        tail = n;
        count.fetch_add(1);
        return n;
    }

    T* popFront()
    {
        if (!head)
            return nullptr;
        T* item = head->item;
        unlink(head);
        return item;
    }

    void unlink(Node* n)
    {
        if (n->prev)
            n->prev->next = n->next;
        else
            head = n->next;
        if (n->next)
            n->next->prev = n->prev;
        else
            tail = n->prev;
        if (spares.count >= MAX_SPARE || !spares.push(n))
            memFree(n);
        count.fetch_sub(1);
    }

    // Every node unlinked in order; the items deleted when asked.
    void clear(bool deleting)
    {
        while (head) {
            T* item = head->item;
            unlink(head);
            if (deleting)
                memDelete(item);
        }
        head = tail = nullptr;
        count.store(0);
    }

private:
    Node* takeNode()
    {
        if (spares.count) {
            Node* n = spares.items[0];
            spares.items[0] = spares.items[spares.count - 1];
            spares.items[--spares.count] = nullptr;
            return n;
        }
        return static_cast<Node*>(memAlloc(sizeof(Node)));
    }
};
