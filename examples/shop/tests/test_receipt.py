from shop.receipt import format_line


def test_format_line():
    assert format_line("apple", 1.5) == "apple                   1.50"
