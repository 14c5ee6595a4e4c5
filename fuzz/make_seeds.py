#!/usr/bin/env python3
"""Writes the seed corpus of the session fuzzer: valid request sequences
over the example database (examples/database), one file each, so that the
fuzzer starts from sessions that reach every command.

Tables: 1 CUSTOMERS (ID INTEGER 8, NAME STRING 40, CITY STRING 30, EMAIL
STRING 60), 2 PRODUCTS (ID INTEGER 8, NAME STRING 40, PRICE DOUBLE, STOCK
INTEGER 4), 3 ORDERS (ID INTEGER 8, CUSTOMER_ID INTEGER 8, PRODUCT_ID
INTEGER 8, QUANTITY INTEGER 4, ORDERED STRING 10). Comparators: 1 BYID,
2 POLISH, 3 BYAMOUNT. Counters: 1..3 named after the tables.

Run it again after changing the example database: python3 fuzz/make_seeds.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def ints(*values):
    return b"".join(struct.pack("<i", v) for v in values)


def int64(value):
    return struct.pack("<q", value)


def record(*fields):
    """fields: (bytes or None, width); None is a null field."""
    data = b""
    bitmap = bytearray((len(fields) + 7) // 8)
    for i, (value, width) in enumerate(fields):
        if value is None:
            data += b"\0" * width
        else:
            data += value.ljust(width, b"\0")[:width]
            bitmap[i // 8] |= 1 << (i % 8)
    return data + bytes(bitmap)


def i8(v):
    return (struct.pack("<q", v), 8)


def i4(v):
    return (struct.pack("<i", v), 4)


def s(text, width):
    return (text.encode("cp1250"), width)


def dbl(v):
    return (struct.pack("<d", v), 8)


# A view of CUSTOMERS (ID, NAME, CITY) in NAME order, on transaction `tx`.
def open_customers_by_name(tx):
    return ints(7, 1, 3, 1, 2, 3, tx, 1, 2, 2)


def customer(id_, name, city):
    return record(i8(id_), s(name, 40), s(city, 30))


BEGIN = ints(3)
CLOSE_SESSION = ints(1)

customers = [customer(1, "Łukasiewicz Jan", "Kraków"), customer(2, "Żak Ewa", "Łódź"),
             customer(3, "Ąbel Ósma", "Gdańsk")]
fill = BEGIN + open_customers_by_name(1) + ints(28, 1, len(customers)) + b"".join(customers)

seeds = {
    "catalogue": ints(20, 21, 24) + ints(22, 1, 22, 2, 22, 3) + ints(23, 1, 23, 2, 23, 3) +
                 ints(2) + CLOSE_SESSION,
    "counters": ints(25, 1) + ints(31, 2) + int64(1000) + ints(25, 2) + ints(31, 3) + int64(-5) +
                CLOSE_SESSION,
    "transactions": BEGIN + ints(4, 1) + ints(4, 2) + ints(5, 3) + ints(6, 2) + BEGIN +
                    ints(5, 1, 5, 2) + CLOSE_SESSION,
    "customers_fetch": fill + ints(10, 1, 2) + ints(16, 1, 1) + ints(17, 1, 10) +
                       ints(10, 1, 4) + ints(16, 1, -1) + ints(18, 1, 10) + ints(9, 1) +
                       ints(8, 1) + ints(5, 1) + CLOSE_SESSION,
    "customers_change": fill + ints(11, 1) + customer(0, "Żak", "") + ints(1) + ints(19, 1) +
                        ints(15, 1) + customer(2, "Żak Ewelina", "Łódź") + ints(12, 1) +
                        customer(0, "Z", "") + ints(1) + ints(13, 1) + ints(14, 1) +
                        customer(4, "Nowak Adam", "Poznań") + ints(29, 1, 2, 1) +
                        customer(0, "Nowak Adam", "") + customer(0, "Brak", "") +
                        ints(30, 1, 0) + customer(0, "", "") + ints(8, 1) + ints(6, 1) +
                        CLOSE_SESSION,
    "nested": BEGIN + ints(4, 1) + open_customers_by_name(2) + ints(14, 1) +
              customer(7, "Wiśniewska Anna", "Wrocław") + ints(8, 1) + ints(5, 2) +
              open_customers_by_name(1) + ints(10, 1, 2) + ints(17, 1, 5) + ints(8, 1) +
              ints(5, 1) + CLOSE_SESSION,
    # Orders with the customer's and the product's names looked up by ID.
    "lookups": fill +
               ints(7, 1, 2, 1, 2, 1, 1, 1, 1) +            # view 2: CUSTOMERS (ID, NAME) by ID
               ints(7, 2, 3, 1, 2, 3, 1, 1, 1, 1) +         # view 3: PRODUCTS (ID, NAME, PRICE) by ID
               ints(14, 3) + record(i8(1), s("Młotek", 40), dbl(39.99)) +
               ints(27, 3, 4, 1, 2, 3, 4, 1, 1, 1, 1) +     # view 4: ORDERS by ID, 2 lookups
               ints(2, 2, 1, 0, 2, 1, 2) + ints(3, 1, 0, 3, 2, 2, 3) +
               ints(14, 4) + record(i8(1), i8(1), i8(1), i4(2), (None, 40), (None, 40), (None, 8)) +
               ints(19, 4) + ints(27, 3, 1, 1, 1, 1, 1, 1) + ints(1, 3, 1, 1) + int64(1) + ints(1, 2) +
               CLOSE_SESSION,
    "refusals": fill + ints(28, 1, 3) + b"".join(customers) + ints(9, 1) + ints(15, 1) +
                customers[0] + ints(13, 1) + ints(10, 1, 3) + CLOSE_SESSION,
    "bad_open": BEGIN + ints(7, 1, 0, 1, 1, 1, 1),
    "truncated": fill + ints(14, 1) + customers[0][:10],
}

corpus = os.path.join(HERE, "corpus")
os.makedirs(corpus, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(corpus, name), "wb") as out:
        out.write(data)
