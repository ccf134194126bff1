local function main(n)
  local b = {}
  for i = 0, n - 1 do b[#b + 1] = i % 100 end
  local s = 0
  for _, v in ipairs(b) do s = s + v end
  return s
end
print(main(10000000))
